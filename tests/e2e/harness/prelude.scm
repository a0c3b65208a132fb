; Helpers for end-to-end cases, prepended to every batch command (each -b command runs in a
; fresh interpreter, so nothing defined here outlives one command).

(define (orvex-defaults) (list 50 250 0 0 2 100 7 0 7 25 25 50 20))

(define orvex-setting-names
  '(brightness threshold threshold_type angle line_type h0_density h0_extent
    h1_density h1_extent s_density s_extent s_amp s_dephasing))

(define (orvex-settings changes)
  (map (lambda (name default)
         (let ((change (assq name changes))) (if change (cdr change) default)))
       orvex-setting-names (orvex-defaults)))

(define (orvex-render img drw settings)
  (apply plugin-orvex (append (list RUN-NONINTERACTIVE img drw) settings)))

(define (orvex-load path) (car (gimp-file-load RUN-NONINTERACTIVE path path)))

(define (orvex-drawable img) (car (gimp-image-get-active-drawable img)))

; interlace, bkgd, gama, offs, phys, time off; compression 9
(define (orvex-save img drw path)
  (file-png-save RUN-NONINTERACTIVE img drw path path 0 9 0 0 0 0 0))

; The selection mask is a channel; the PNG exporter takes it as a gray drawable.
(define (orvex-save-selection img path)
  (orvex-save img (car (gimp-image-get-selection img)) path))

(define (orvex-new-image w h type)
  (let* ((base (if (or (= type GRAY-IMAGE) (= type GRAYA-IMAGE)) GRAY RGB))
         (img (car (gimp-image-new w h base)))
         (layer (car (gimp-layer-new img w h type "background" 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer img layer 0 0)
    (gimp-context-push)
    (gimp-context-set-foreground '(0 0 0))
    (gimp-drawable-fill layer FILL-FOREGROUND)
    (gimp-context-pop)
    (list img layer)))

(define (orvex-fill-rect img drw x y w h colour)
  (gimp-context-push)
  (gimp-context-set-foreground colour)
  (gimp-image-select-rectangle img CHANNEL-OP-REPLACE x y w h)
  (gimp-drawable-edit-fill drw FILL-FOREGROUND)
  (gimp-selection-none img)
  (gimp-context-pop))

(define (orvex-pixel drw x y)
  (vector->list (cadr (gimp-drawable-get-pixel drw x y))))

(define (orvex-write path value)
  (let ((port (open-output-file path)))
    (write value port)
    (newline port)
    (close-output-port port)))

; TinyScheme's ports cannot append: read what is there and write it out again.
(define (orvex-append path value)
  (let ((before (if (file-exists? path) (orvex-read-text path) "")))
    (let ((port (open-output-file path)))
      (display before port)
      (write value port)
      (newline port)
      (close-output-port port))))

(define (orvex-read-text path)
  (let ((port (open-input-file path)))
    (let loop ((chars '()))
      (let ((c (read-char port)))
        (if (eof-object? c)
            (begin (close-input-port port) (list->string (reverse chars)))
            (loop (cons c chars)))))))

(define (orvex-channel-count img) (car (gimp-image-get-channels img)))

; Busy-waits (the batch command keeps GIMP's main loop turning) until a file exists, e.g. one
; that the harness creates after a key press.
(define (orvex-wait-for-file path)
  (let loop () (if (not (file-exists? path)) (loop))))
