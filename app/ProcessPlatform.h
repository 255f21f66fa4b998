#pragma once

// Process-level settings that differ between operating systems; one source file each.

// Large blocks of memory go back to the system when they are freed, so that the agent does
// not keep the peaks of its log view's text buffers for good. Call first, in main.
void returnLargeFreedBlocksToSystem();
// Gives the pages that freed memory leaves inside the heap back to the system; for moments
// when much has just been freed.
void returnFreedPagesToSystem();

// Lets the process hold as many sockets as the system allows it.
void raiseOpenFileLimit();

// Termination requests from a terminal or a service manager end the event loop with
// exit code 0, as the quit entry does, so that the orderly shutdown still runs.
// Call once, after the application object exists.
void quitOnTerminationRequest();
