; Prepended to every batch command (each -b runs in a fresh interpreter); the harness fills
; in the work folder, the batch number and the paths of inputs.

(define orvex-default-values (vector->list (cadr (orvex-test-defaults RUN-NONINTERACTIVE))))
(define (orvex-defaults) orvex-default-values)
(define orvex-names
  '(brightness threshold threshold_type angle line_type h0_density h0_extent h1_density h1_extent
    s_density s_extent s_amp s_dephasing))
; The defaults with some replaced: (orvex-settings '((line_type . 3) (angle . 30))).
(define (orvex-settings changes)
  (map (lambda (name default) (let ((c (assq name changes))) (if c (cdr c) default)))
       orvex-names (orvex-defaults)))
(define (orvex-render img drw . changes)
  (apply plugin-orvex RUN-NONINTERACTIVE img drw (orvex-settings (if (pair? changes) (car changes) '()))))
; (status message) of a call that may fail, with the first `count` parameters.
(define (orvex-call mode img drw count . changes)
  (let ((s (orvex-settings (if (pair? changes) (car changes) '()))))
    (orvex-test-call RUN-NONINTERACTIVE img drw mode count 13 (list->vector s))))

(define (orvex-load path) (car (gimp-file-load RUN-NONINTERACTIVE path path)))
(define (orvex-drawable img) (car (gimp-image-get-active-drawable img)))
(define (orvex-copy img) (car (gimp-image-duplicate img)))
; A new image of one layer filled with a colour; type RGB-IMAGE, RGBA-IMAGE, GRAY-IMAGE or GRAYA-IMAGE.
(define (orvex-new-image w h type precision colour)
  (let* ((img (car (gimp-image-new-with-precision w h (if (< type 2) RGB GRAY) precision)))
         (layer (car (gimp-layer-new img w h type "layer" 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer img layer 0 0)
    (orvex-fill img layer 0 0 w h colour)
    img))
(define (orvex-fill img drw x y w h colour)
  (gimp-context-push)
  (gimp-context-set-foreground colour)
  (gimp-image-select-rectangle img CHANNEL-OP-REPLACE x y w h)
  (gimp-drawable-edit-fill drw FILL-FOREGROUND)
  (gimp-selection-none img)
  (gimp-context-pop))
(define (orvex-feathered-ellipse img x y w h radius)
  (gimp-context-push)
  (gimp-context-set-feather TRUE)
  (gimp-context-set-feather-radius radius radius)
  (gimp-image-select-ellipse img CHANNEL-OP-REPLACE x y w h)
  (gimp-context-pop))
(define (orvex-selection-copy img) (car (gimp-channel-copy (car (gimp-image-get-selection img)))))
(define (orvex-channels img) (car (gimp-image-get-channels img)))
(define (orvex-state img)
  (list (car (gimp-image-get-active-layer img)) (car (gimp-image-get-active-channel img))
        (vector->list (cadr (gimp-image-get-channels img)))))

(define orvex-check 0)
(define (orvex-note line)
  (set! orvex-check (+ orvex-check 1))
  (let ((port (open-output-file (string-append "${work}/results/${batch}-" (number->string orvex-check)))))
    (display line port) (newline port) (close-output-port port)))
(define (orvex-show v) (let ((p (open-output-string))) (write v p) (get-output-string p)))
(define (expect name got want)
  (orvex-note (if (equal? got want) (string-append "PASS " name)
                  (string-append "FAIL " name ": got " (orvex-show got) ", expected " (orvex-show want)))))
; Pixels of two drawables in a box (default: all of a): 'same, 'differ, 'brighter (some colour
; sample larger, none smaller), 'darker, or 'not-brighter.
(define (expect-pixels name a b relation . box)
  (let* ((b4 (if (pair? box) box (list 0 0 (car (gimp-drawable-width a)) (car (gimp-drawable-height a)))))
         (r (apply orvex-test-compare RUN-NONINTERACTIVE a b b4))
         (changed (car r)) (larger (cadr r)) (smaller (caddr r))
         (ok (and (>= changed 0)
                  (case relation ((same) (= changed 0)) ((differ) (> changed 0))
                    ((brighter) (and (> larger 0) (= smaller 0))) ((darker) (and (> smaller 0) (= larger 0)))
                    ((not-brighter) (= larger 0)) (else #f)))))
    (orvex-note (string-append (if ok "PASS " "FAIL ") name
                               (if ok "" (string-append ": " (orvex-show relation) " expected; changed, larger, smaller = "
                                                        (orvex-show r)))))))
(define (orvex-done) (orvex-note "DONE"))
