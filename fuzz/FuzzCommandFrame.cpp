// Response frames from the amplifier's UART service: the parser must accept
// only well-formed frames and point only into the buffer it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/CommandFrame.h"

namespace {

// Keeps the payload sum alive, so that reading the payload is not optimised
// away.
volatile unsigned g_sink;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qelt::ParsedResponse response;
    if (!qelt::ParseResponse(data, size, response)) {
        return 0;
    }
    const size_t n = response.payloadLength;
    if (n > qelt::kMaxCommandPayload || size != n + 7 || response.command != data[3] ||
        response.status != data[4] || (n == 0) != (response.payload == nullptr)) {
        std::abort();
    }
    // The payload must lie inside the frame; touching it lets the address
    // sanitizer check that.
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i) {
        sum += response.payload[i];
    }
    if (n != 0 && response.payload != data + 5) {
        std::abort();
    }

    // The same payload sent as a request must carry the checksum the
    // response's covered bytes imply once the status byte is left out.
    const std::vector<uint8_t> request =
        qelt::BuildRequest(response.command, response.payload, response.payloadLength);
    if (request.size() != n + 6 || request[0] != 0xF0 ||
        qelt::Crc16(request.data() + 1, n + 3) != ((request[n + 4] << 8) | request[n + 5])) {
        std::abort();
    }
    g_sink = sum;
    return 0;
}
