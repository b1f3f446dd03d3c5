// The steps that the V1 and V2 containers share: their two files, the name field, the length
// rule and the block loops. Failures are logged at level 2 with the system's messages, at the site
// of the export being served, and give 1 unless said otherwise.
#pragma once

#include <cstdint>
#include <cstdio>

#include "card/log/log_site.h"

// A path of 1 to 254 characters.
bool container_path_ok(const char* path);

// The plaintext and the container file of one call, in binary mode; closed by close() or at the
// end of the scope. The output file is unbuffered, so that a short write shows in its count. An
// output that is the input file (compared as files, not names) is refused, as an output that
// cannot be opened, before it is opened for writing: opening it would destroy the input.
class ContainerFiles {
  public:
    ContainerFiles() = default;
    ~ContainerFiles() { close(); }
    ContainerFiles(const ContainerFiles&) = delete;
    ContainerFiles& operator=(const ContainerFiles&) = delete;

    // The plaintext for reading, then the container for writing (created or truncated).
    uint32_t open_for_encryption(LogSite site, const char* plaintext_path,
                                 const char* container_path);
    // The plaintext for writing first (created or truncated), then the container for reading.
    uint32_t open_for_decryption(LogSite site, const char* container_path,
                                 const char* plaintext_path);
    void close();

    FILE* plaintext() const { return plaintext_; }
    FILE* container() const { return container_; }
    // Whether this call created or truncated its output file.
    bool output_opened() const { return output_opened_; }

  private:
    FILE* plaintext_ = nullptr;
    FILE* container_ = nullptr;
    bool output_opened_ = false;
};

// The name field: the base name of plaintext_path, NUL-terminated and NUL-padded to 255 bytes.
// A short write logs "write fn err, cnt[%d]" with the count written.
uint32_t write_name_field(LogSite site, FILE* container, const char* plaintext_path);
// A short write logs failure_format with the count written.
uint32_t write_header_field(LogSite site, FILE* container, const uint8_t* field, uint32_t size,
                            const char* failure_format);
// A short read logs failure_message.
uint32_t read_header_field(LogSite site, FILE* container, uint8_t* field, uint32_t size,
                           const char* failure_message);

// The length rule: the container's length, taken at its end, is header_size and whole blocks.
// *blocks_length := the bytes of the blocks. The file is left positioned at its end.
uint32_t container_blocks_length(LogSite site, FILE* container, uint32_t header_size,
                                 uint64_t* blocks_length);

// One 4096-byte block through the card: crypt(context, in, out) gives 0 or the block operation's
// result; a failure logs failure_format with it and ends the loop with that result. A function
// and its context, so that making a path allocates nothing.
struct BlockPath {
    uint32_t (*crypt)(const void* context, const uint8_t* in, uint8_t* out);
    const void* context;
    const char* failure_format;
};

// The path of crypt(in, out), which must outlive it.
template <class Crypt>
BlockPath block_path(const Crypt& crypt, const char* failure_format) {
    return {[](const void* context, const uint8_t* in, uint8_t* out) -> uint32_t {
                return (*static_cast<const Crypt*>(context))(in, out);
            },
            &crypt, failure_format};
}

// Reads the plaintext to its end in 4096-byte blocks and writes each encrypted; the read that
// comes back short ends the plaintext, and its bytes, padded with 0x80 and zeros, are the last
// block.
uint32_t encrypt_blocks(LogSite site, FILE* plaintext, FILE* container, const BlockPath& path);
// Reads blocks_length bytes of blocks from the container's position and writes them decrypted.
// One decrypted block is held back, so that the padding is cut from the last two blocks together.
uint32_t decrypt_blocks(LogSite site, FILE* container, FILE* plaintext, uint64_t blocks_length,
                        const BlockPath& path);

// Releases a slot that the card filled (0: none); its result, and an exception from it, are
// ignored: the call's result stays what its steps gave.
void release_slot(uint32_t slot) noexcept;
