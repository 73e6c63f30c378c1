/* Arithmetic the x87 guard must reject: a double division on the x87 and a
   call into the C library's maths. Never linked into anything. */
#include <math.h>

double X87Quotient(double a, double b) { return a / b; }
double X87Sine(double a) { return sin(a); }
