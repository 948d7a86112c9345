// Keeping the libraries' own diagnostics off the console.
//
// The program reports every failure it knows of in one line on standard
// output. The video libraries would add warnings of their own on standard
// error for the same causes (a file or camera that cannot be opened, a
// damaged file), in their own jargon. Their logging is turned down at the
// source; standard error itself stays open, so a crash report still shows.
#pragma once

// Turns the logging of OpenCV, of FFmpeg (through OpenCV) and of GStreamer
// off. Call before any video is opened. A level the user has set in the
// environment is kept, so their diagnostics can still be asked for.
void quietLibraryLogging();
