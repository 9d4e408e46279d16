// Index files beside streams (NAME.rlg.idx): found, loaded, checked against their stream, compared
// with the index of an expansion made now, and written.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>

#include "rlegolomb.h"
#include "tool/input.h"
#include "tool/reporter.h"

struct IndexFree {
  void operator()(rlegolomb_index* idx) const { rlegolomb_index_free(idx); }
};
using IndexHandle = std::unique_ptr<rlegolomb_index, IndexFree>;

// The name of the index of the stream `streamName`.
std::string IndexNameOf(const std::string& streamName);

// What there is beside a stream: no index, an index that loads, or a file under the index's name
// that is not one (damaged, or not a regular file).
enum class IndexFound { kNone, kLoaded, kUnusable };

// Loads the index beside `streamName` into `index`. Never blocks on a FIFO and never follows
// anything but a regular file. Says nothing itself.
IndexFound FindIndex(const std::string& streamName, IndexHandle* index);

// FindIndex for a job that would use the index: warns (status 2) about one that cannot be used,
// which the job then goes without.
IndexHandle LoadIndexFor(const std::string& streamName, Reporter& reporter);

// Whether `index` belongs to the regular file of `input`: its size and the checksum of all its
// bytes (read through a mapping, at memory speed).
bool IndexFitsInput(const rlegolomb_index* index, const Input& input);

// Writes `index` as `streamName`.idx, through a temporary file as every output of the program,
// replacing an older index there (a regular file only). `streamStatus` is the stream's, which the
// index must not overwrite. False after reporting.
bool WriteIndexFile(const std::string& streamName, const rlegolomb_index* index,
                    const struct stat& streamStatus, mode_t mode, Reporter& reporter);

// After an expansion indexed as it went (`built`), its check against the index kept beside the
// stream (`expected`): true when every stretch agrees; else an error that names the first bytes
// that differ, and false.
bool VerifyAgainstIndex(const rlegolomb_index* expected, const rlegolomb_index* built,
                        const std::string& streamName, Reporter& reporter);
