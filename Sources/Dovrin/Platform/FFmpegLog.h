#pragma once

// FFmpeg writes its encoders' statistics and its decoders' complaints to standard error; the program
// lets only errors through. Idempotent and thread-safe; called before any FFmpeg work.
namespace FFmpegLog {
void keepErrorsOnly();
}
