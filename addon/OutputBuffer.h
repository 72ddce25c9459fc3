// The buffered writer in front of the transport's stream. Every byte the driver prints goes
// through SendToOutput; the transport sees 1024-byte block writes while a job runs and one
// final flush write, SendToOutput(NULL, 0), at its end.
//
// Process-wide and unlocked: only the thread that runs take_job uses it, one job at a time.
// The buffer does not own `stream`; the transport does.
#pragma once

#include <DataIO.h>

// The transport's output stream; set by take_job before each job, null until the first.
extern BDataIO* stream;

// Appends `length` bytes from `data`. SendToOutput(NULL, 0) is the flush: it writes what is
// held (also when that is nothing) in one Write call and empties the buffer.
void SendToOutput(char* data, int length);

// Appends the characters of a NUL-terminated command string, without the NUL.
void SendToOutput(char* text);

// True once a write to `stream` failed or took fewer bytes than it was given in this job.
// Nothing more is written after that: the job stops, and the bytes already lost cannot be
// sent again. begin_output clears it when a job begins.
bool output_failed();
void begin_output();

// For test fixtures only: drops whatever the buffer holds without writing it, so each test
// starts with the empty buffer a freshly loaded driver has.
void reset_output_buffer();
