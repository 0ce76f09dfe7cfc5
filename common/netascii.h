// The two text-mode conversions of netascii, written out as streaming
// converters so that a CR LF pair split across two reads is still one line end.
//
// Reading a file to send: each CR LF pair becomes a single LF, a CR not
// followed by LF stays, and Ctrl-Z (0x1A) ends the data as if the file ended
// there.
//
// Writing received data to a file: each LF becomes CR LF, except an LF that
// follows a CR in the data (also when that CR ended the previous block): the
// CR is already in the file, so the pair is stored once. Peers that send bare
// LF line ends and peers that send CR LF both give a CR LF file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tftp {

class NetasciiReadConverter {
public:
    // Converts raw file bytes from in into out. inputEnds says no bytes follow
    // in; without it a CR at the very end of in is left unconsumed, since the
    // next byte decides what it becomes. Returns the bytes produced; consumed
    // tells how many input bytes were used. After a Ctrl-Z, Ended() is true and
    // nothing more is produced.
    std::size_t Convert(const std::uint8_t* in, std::size_t inLen, bool inputEnds,
                        std::uint8_t* out, std::size_t outCap, std::size_t& consumed);
    bool Ended() const { return ended_; }
    void Reset() { ended_ = false; }

private:
    bool ended_ = false;
};

class NetasciiWriteConverter {
public:
    // Converts received data into file bytes; out must hold 2 * inLen bytes.
    std::size_t Convert(const std::uint8_t* in, std::size_t inLen, std::uint8_t* out);
    void Reset() { lastWasCr_ = false; }

private:
    bool lastWasCr_ = false;
};

}  // namespace tftp
