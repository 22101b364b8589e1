#pragma once
// What the imaging library keeps for each thread that decoded pictures (its last error text)
// lives until the thread ends only when the library started the thread. A worker thread of a
// program that decoded pictures calls this as it ends, so nothing stays behind.
namespace lumo::platform {

void release_imaging_thread_state();

}  // namespace lumo::platform
