#pragma once
#include "cipher/cipher.h"
#include "engine/file_task.h"
#include "engine/output_commit.h"
#include "engine/source_file.h"

// Removes the source of a task whose output is complete and durable, and syncs the
// source's folder, so that after a power cut the file exists as its source or as its
// output, never as neither. A source with other hard links is kept (their data would
// stay anyway, and nothing tells which name the user meant). Says on standard error
// what it did not do; false when the source could not be removed. A descriptor path
// (/dev/stdin) is no file to remove.
bool RemoveSource(const FileTask& task, const SourceFile& source);

// After an engine committed `output`: removes the source when --rm asked for it and
// the output is a file of its own (not standard output, a device or a stream's).
// False when a removal was due and failed.
bool RemoveSourceIfAsked(const FileTask& task, const SourceFile& source, const OutputFile& output);

// The task's target has the source's length and modification time, as its output
// would: worth comparing with OutputAlreadyWritten.
bool LooksLikeItsOutput(const FileTask& task, const SourceFile& source);

// The task's target already holds exactly what transforming the source would write:
// the output of an earlier run that stopped before it removed the source. It is put
// on the disk (file and folder) before this says yes.
bool OutputAlreadyWritten(const FileTask& task, SourceFile& source, const Cipher& keyed);
