// Sample buffers for the writer. A buffer goes back to its pool on its last release and is
// handed out again, so a steady recording allocates nothing per sample.
#pragma once

#include <mutex>
#include <vector>

#include "platform/com/ref_count.h"
#include "platform/wmf/wmsdk.h"

class BufferPool;

class NssBuffer final : public INSSBuffer {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetLength(DWORD* length) override;
  HRESULT STDMETHODCALLTYPE SetLength(DWORD length) override;
  HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) override;
  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** buffer) override;
  HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** buffer, DWORD* length) override;

 private:
  friend class BufferPool;
  NssBuffer(BYTE* data, DWORD capacity) : m_data(data), m_capacity(capacity) {}
  ~NssBuffer();

  BYTE* m_data;
  DWORD m_capacity;
  DWORD m_length = 0;
  LONG volatile m_refs = 0;
  BufferPool* m_pool = nullptr;  // counted while the buffer is out
};

class BufferPool {
 public:
  static BufferPool* Create();  // one reference for the caller, or null when memory is short
  void AddRef();
  void Release();

  // A buffer of at least `size` bytes, length 0, one reference for the caller.
  HRESULT Allocate(DWORD size, INSSBuffer** out);

 private:
  friend class NssBuffer;
  BufferPool() = default;
  ~BufferPool();
  // Takes back a buffer whose last reference is gone.
  void Recycle(NssBuffer* buffer);

  static constexpr size_t kMaxIdle = 8;
  std::mutex m_lock;
  std::vector<NssBuffer*> m_idle;
  LONG volatile m_refs = 1;
};
