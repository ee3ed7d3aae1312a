// The response writer: the one place where a web response becomes the bytes of an HTTP/1.1
// answer (status line, header lines in their fixed order, the Content-Type character set rules,
// the body conversion). The listener's exchange and its own error answers both write through
// it.
//
// Thread safety: pure functions, any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/web.h"

namespace orv::host {

// Header block (status line to the empty line) of `response` for a body of body_size bytes.
// The status line is always HTTP/1.1; a Realm makes it 401 with its Basic challenge.
std::string RenderHeader(const TWebResponse& response, std::size_t body_size);

// The whole answer as it goes on the wire, the body moved out of `response`: header and a body
// of one piece in one buffer; a body set in pieces follows the header as those pieces, never
// joined.
std::vector<std::string> RenderResponseParts(TWebResponse& response);
// The same in one buffer.
std::string RenderResponse(TWebResponse& response);

}  // namespace orv::host
