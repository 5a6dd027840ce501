#pragma once

#include "connection_record.hpp"

namespace audio {

// The body of each "cliente" thread.
void handle_connection(common::ConnectionRecord record);

}  // namespace audio
