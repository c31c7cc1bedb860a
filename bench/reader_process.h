// The reader process's start-up and a read through it.
#pragma once

namespace ridel_bench {

void register_reader_process();

}  // namespace ridel_bench
