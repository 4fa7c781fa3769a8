// How the C library's heap serves a program that composes one message after another.
#pragma once

// The buffers of a message (a few hundred KiB: the composer's, the SMTP text's, a file's
// block) are freed once it has gone and taken again for the next one. By default the heap
// hands such memory back to the system and the next message faults it in anew, some 60 page
// faults a message; after this call blocks below 1 MiB come from the heap and up to 8 MiB
// freed at its top stay there. Memory still does not grow with a file: the buffers are bounded.
// Call once, first thing in main().
void KeepMessageBuffers();
