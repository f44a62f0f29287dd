// Running out of memory. A router has little of it, and with overcommit off
// or a memory limit an allocation can fail anywhere: a tree or a saved file
// built on a failed allocation may lack anything, so once one has failed
// nothing may be saved (run.out_of_memory).
#pragma once

// Routes libxml2's allocations through functions that note a failure in the
// run state, and sets the library up. Called before anything else of
// libxml2's; when it leaves run.out_of_memory set, nothing of libxml2's may
// be called at all.
void watch_allocations();

// For a call outside libxml2 that failed with `error` (a stream the C
// library could not make, as fdopen): ENOMEM notes that memory ran
// out.
void note_if_out_of_memory(int error);
