; Prepended to every batch (each -b runs in a fresh interpreter), with ${work}, ${batch} and inputs filled in.

(define orvex-names '(brightness threshold threshold_type angle line_type h0_density h0_extent h1_density h1_extent
                      s_density s_extent s_amp s_dephasing))
; plugin-orvex, through the helper, with its first `count` parameters and the defaults changed by
; '((line_type . 3) (angle . 30)) (the first of a name counts): (status message progress-texts fractions
; last-fraction fractions-only-rose).
(define (orvex-run mode img drw count . changes)
  (let ((pairs (apply append (map (lambda (c) (list (- 13 (length (memq (car c) orvex-names))) (cdr c)))
                                  (reverse (if (pair? changes) (car changes) '()))))))
    (orvex-test-call RUN-NONINTERACTIVE img drw mode count (length pairs) (list->vector pairs))))
(define (orvex-call . args) (let ((r (apply orvex-run args))) (list (car r) (cadr r))))  ; (status message)
; (status texts fractions last-fraction fractions-only-rose) of a render with the defaults.
(define (orvex-test-progress mode img drw) (let ((r (orvex-run mode img drw 16))) (cons (car r) (cddr r))))
(define (orvex-ok status) (if (not (equal? status '(3 ""))) (error "plugin-orvex failed:" status)))
(define (orvex-render img drw . changes) (orvex-ok (apply orvex-call RUN-NONINTERACTIVE img drw 16 changes)))
; The (status . message) a script sees from running `thunk`: (0 . "Procedure execution of ... failed: ...").
(define (orvex-script-result thunk)
  (call/cc (lambda (k) (let ((hook *error-hook*)) (set! *error-hook* (lambda (message . rest) (set! *error-hook* hook) (k (cons 0 message))))
                         (thunk) (set! *error-hook* hook) (cons 3 "")))))

(define (orvex-load path) (car (gimp-file-load RUN-NONINTERACTIVE path path)))
(define (orvex-drawable img) (car (gimp-image-get-active-drawable img)))
(define (orvex-layer path) (orvex-drawable (orvex-load path)))
(define (orvex-rendered path . changes)  ; the drawable of the file, rendered
  (let* ((img (orvex-load path)) (drw (orvex-drawable img))) (apply orvex-render img drw changes) drw))
(define (orvex-copy img) (car (gimp-image-duplicate img)))
; A new image of one layer filled with a colour, with white (x y w h) spots; type RGB-IMAGE, RGBA-IMAGE,
; GRAY-IMAGE or GRAYA-IMAGE.
(define (orvex-new-image w h type precision colour . spots)
  (let* ((img (car (gimp-image-new-with-precision w h (if (< type 2) RGB GRAY) precision)))
         (layer (car (gimp-layer-new img w h type "layer" 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer img layer 0 0)
    (orvex-fill img layer 0 0 w h colour)
    (for-each (lambda (s) (apply orvex-fill img layer (append s '((255 255 255))))) spots)
    img))
(define (orvex-fill img drw x y w h colour)  ; the box in image coordinates
  (gimp-context-push) (gimp-context-set-foreground colour) (gimp-image-select-rectangle img CHANNEL-OP-REPLACE x y w h)
  (gimp-drawable-edit-fill drw FILL-FOREGROUND) (gimp-selection-none img) (gimp-context-pop))
(define (orvex-feathered-ellipse img x y w h radius)  ; selected
  (gimp-context-push) (gimp-context-set-feather TRUE) (gimp-context-set-feather-radius radius radius)
  (gimp-image-select-ellipse img CHANNEL-OP-REPLACE x y w h) (gimp-context-pop))
(define (orvex-state img)  ; the number of images, the active layer and channel, the channels
  (list (car (gimp-image-list)) (car (gimp-image-get-active-layer img)) (car (gimp-image-get-active-channel img))
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
; sample larger, none smaller) or 'darker.
(define (expect-pixels name a b relation . box)
  (let* ((r (apply orvex-test-compare RUN-NONINTERACTIVE a b
                   (if (pair? box) box (list 0 0 (car (gimp-drawable-width a)) (car (gimp-drawable-height a))))))
         (changed (car r)) (larger (cadr r)) (smaller (caddr r))
         (ok (and (>= changed 0) (case relation ((same) (= changed 0)) ((differ) (> changed 0)) ((brighter) (and (> larger 0) (= smaller 0)))
                                   ((darker) (and (> smaller 0) (= larger 0))) (else #f)))))
    (orvex-note (if ok (string-append "PASS " name)
                    (string-append "FAIL " name ": " (orvex-show relation) " expected; changed, larger, smaller = " (orvex-show r))))))
; 8-bit RGB drawables of one size, a at (x y) in its image: no colour differs by more than `levels` of 255.
(define (expect-near name a b levels x y)
  (let* ((img (car (gimp-image-duplicate (car (gimp-item-get-image a)))))
         (shown (car (gimp-layer-new-from-drawable b img))))
    (gimp-image-insert-layer img shown 0 -1)
    (gimp-layer-set-offsets shown x y)
    (gimp-layer-set-mode shown LAYER-MODE-DIFFERENCE-LEGACY)
    (let ((difference (car (gimp-image-merge-down img shown CLIP-TO-BOTTOM-LAYER))))
      (gimp-image-select-rectangle img CHANNEL-OP-REPLACE x y (car (gimp-drawable-width b)) (car (gimp-drawable-height b)))
      (let ((beyond (list-ref (gimp-drawable-histogram difference HISTOGRAM-VALUE (/ (+ levels 0.5) 255) 1) 4)))
        (orvex-note (if (= beyond 0) (string-append "PASS " name)
                        (string-append "FAIL " name ": " (orvex-show beyond) " pixels more than "
                                       (orvex-show levels) " apart")))))))
; Runs (action), then checks that the image's selection, images, active items and channels are as before,
; and, unless drw is #f, drw's pixels and the clean state too (but for clean #f).
(define (expect-kept name img drw clean action)
  (gimp-image-clean-all img)
  (let ((copy (orvex-copy img)) (selection (car (gimp-channel-copy (car (gimp-image-get-selection img))))) (before (orvex-state img)))
    (action)
    (expect (string-append name ": images, active items and channels as before") (orvex-state img) before)
    (expect-pixels (string-append name ": the selection as before") (car (gimp-image-get-selection img)) selection 'same)
    (when drw
      (expect-pixels (string-append name ": the pixels as before") drw (orvex-drawable copy) 'same)
      (when clean (expect (string-append name ": the image is clean") (car (gimp-image-is-dirty img)) 0)))))
(define (orvex-done) (orvex-note "DONE"))
