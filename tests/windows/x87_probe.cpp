// Built for the x87 unit on purpose: the x87 check must reject this code, or it
// proves nothing about the keying code it passes.
double ScaleProbe(double a, double b) { return a / b * 255.0; }
