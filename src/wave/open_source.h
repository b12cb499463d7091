// Which reader a recording goes to, and the source the mix reads a channel
// from. Our WAVE reader keeps every file it accepts; only a file it refuses
// is offered to libsndfile.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "wave/header.h"
#include "wave/source.h"

namespace sorvan {

// The source's header, from our WAVE reader or else from libsndfile. When
// neither can read the file, prints what GET_ATTRIBUTES prints and returns
// false; `out` is written only on success. A file libsndfile reads prints
// nothing: the WAVE reader's refusal does not apply to it.
bool readSourceHeader(const std::string& path, SourceAttributes& out);

// The channel's source: the reader its header came from, converted to
// `sessionRate` when the recording has another rate (and can be converted).
std::unique_ptr<SampleSource> openSource(const std::string& path, const SourceAttributes& a,
                                         std::uint32_t sessionRate);

}  // namespace sorvan
