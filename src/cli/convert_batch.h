// A per-file conversion spread over worker processes (`convert -j N`).
//
// The MP3 encoder and the rate changer are one per process, so parallel
// conversions run in processes: the command line starts itself N times as a
// worker. The parent has analysed the files and fixed every output name
// before any worker starts, so names never collide; it hands the entries out
// one at a time to whichever worker is free, shows one progress line for the
// batch, passes Ctrl-C and SIGTERM on, and collects each entry's result into
// the main job's `jobTable`, so that the report is the one of a conversion in this process.
//
// Each worker has a folder of its own under the program folder's tmp/ (a copy
// of the settings file, its own tmp/): workers never write the settings or the
// list of the program folder and never share an intermediate file.
//
// Worker protocol, one line per record, texts and paths in hex:
//   parent -> worker (stdin):  E <index> <name> <source>
//   worker -> parent (stdout): P <index> <second>      position in the entry
//                              T <text>                a status text
//                              R <index> <result> <pcm bytes> <output name>
// The worker's stderr carries its messages; the parent prints them whole.
#pragma once

#include "cli/cli.h"
#include "platform/cores.h"

#include <string>
#include <vector>

namespace kestrel::cli {

// The hidden option that makes `convert` a worker.
inline constexpr const char* kBatchWorkerOption = "--batch-worker";

// Converts every entry of the main job's `jobTable` with up to `jobs` workers, started as
// `kestrel-cli --home <own folder> convert <workerArgs> --batch-worker`;
// `names` holds each entry's output name. Entries the workers never reported
// keep their result NotRun; `stopped` tells the entries a stop came to while
// they were converted. Returns 0, or negative when no worker could be started
// (nothing was converted; the caller converts in this process).
int runBatch(int jobs, const Args& workerArgs, const std::vector<std::string>& names,
             std::vector<bool>& stopped);

// The worker's side: converts the entries read from stdin one at a time with
// the settings already applied. Returns the exit status.
int runBatchWorker();

} // namespace kestrel::cli
