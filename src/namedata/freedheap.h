#pragma once

namespace ridelog {

// Hands the pages of freed heap memory back to the system. Building a long history leaves tens
// of megabytes of short-lived buffers free in the heap, where glibc would keep them resident.
void returnFreedHeapToSystem();

} // namespace ridelog
