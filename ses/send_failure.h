#pragma once

#include "ses/delivery_result.h"

#include <exception>

namespace quillmere::SendFailure {

// How the list send treats a raw send that failed: a transport failure after the whole request
// went out is uncertain (SES may have mailed the reader), before that it is tried again; SES's
// throttling, daily quota and server errors are tried again or pause the send; any other
// refusal fails that reader.
DeliveryResult classify(const std::exception& error);

} // namespace quillmere::SendFailure
