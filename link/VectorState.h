#pragma once
// A library of the window's process leaves the upper halves of the wide vector registers in use
// (it shows as soon as the application object is made). From then on every plain vector
// instruction, which is all floating-point arithmetic of this program, waits on those halves:
// loading a recording took twice as long. Threads started afterwards inherit the state. The
// heavy loops therefore clear it at their start, in their own thread; where nothing is left to
// clear it costs a cycle.
void ClearUpperVectorHalves();
