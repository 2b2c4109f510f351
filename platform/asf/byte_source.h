// The bytes of a file being read, from memory or from an open file. Sequential views go through
// one block buffer, so walking millions of tiny packets costs a read per block, not one per
// packet, and memory stays at one block whatever the file holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace asf {

class ByteSource {
 public:
  static constexpr size_t kBlockSize = 1u << 20;

  ByteSource() = default;
  ~ByteSource();
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  void SetFile(int fd, uint64_t size);  // takes ownership of fd
  void SetMemory(const uint8_t* data, uint64_t size);

  uint64_t Size() const { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t size) const;
  // The bytes [offset, offset + size), valid until the next View; null past the end or when the
  // read fails. Cheap when offsets move forward. Throws std::bad_alloc.
  const uint8_t* View(uint64_t offset, size_t size);

 private:
  void Close();
  int fd_ = -1;
  const uint8_t* memory_ = nullptr;
  uint64_t size_ = 0;
  std::vector<uint8_t> block_;
  uint64_t blockStart_ = 0;
  size_t blockBytes_ = 0;
};

}  // namespace asf
