// The response writer: the one place where a web response becomes the bytes of an HTTP/1.1
// answer (status line, header lines in their fixed order, the Content-Type character set rules,
// the body conversion). The listener's exchange and its own error answers both write through
// it.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <cstddef>
#include <string>

#include "host/web.h"

namespace orv::host {

// Header block (status line to the empty line) of `response` for a body of body_size bytes.
// The status line is always HTTP/1.1; a Realm makes it 401 with its Basic challenge.
std::string RenderHeader(const TWebResponse& response, std::size_t body_size);

// The whole answer: header and body, the body moved out of `response`.
std::string RenderResponse(TWebResponse& response);

}  // namespace orv::host
