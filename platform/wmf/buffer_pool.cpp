#include "platform/wmf/buffer_pool.h"

#include <cstdlib>
#include <new>

#include "platform/com/alloc_fault.h"

NssBuffer::~NssBuffer() { std::free(m_data); }

HRESULT NssBuffer::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_INSSBuffer)) {
    *ppv = static_cast<INSSBuffer*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG NssBuffer::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG NssBuffer::Release() {
  LONG left = InterlockedDecrement(&m_refs);
  if (left == 0) {
    BufferPool* pool = m_pool;
    m_pool = nullptr;
    pool->Recycle(this);
    pool->Release();
  }
  return static_cast<ULONG>(left);
}

HRESULT NssBuffer::GetLength(DWORD* length) {
  if (!length) return E_POINTER;
  *length = m_length;
  return S_OK;
}

HRESULT NssBuffer::SetLength(DWORD length) {
  if (length > m_capacity) return E_INVALIDARG;
  m_length = length;
  return S_OK;
}

HRESULT NssBuffer::GetMaxLength(DWORD* length) {
  if (!length) return E_POINTER;
  *length = m_capacity;
  return S_OK;
}

HRESULT NssBuffer::GetBuffer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = m_data;
  return S_OK;
}

HRESULT NssBuffer::GetBufferAndLength(BYTE** buffer, DWORD* length) {
  if (!buffer || !length) return E_POINTER;
  *buffer = m_data;
  *length = m_length;
  return S_OK;
}

BufferPool* BufferPool::Create() { return new (std::nothrow) BufferPool; }

BufferPool::~BufferPool() {
  for (NssBuffer* buffer : m_idle) delete buffer;
}

void BufferPool::AddRef() { InterlockedIncrement(&m_refs); }

void BufferPool::Release() {
  if (InterlockedDecrement(&m_refs) == 0) delete this;
}

HRESULT BufferPool::Allocate(DWORD size, INSSBuffer** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  NssBuffer* buffer = nullptr;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    // The smallest idle buffer that fits, so large buffers stay for large samples.
    size_t best = m_idle.size();
    for (size_t i = 0; i < m_idle.size(); ++i)
      if (m_idle[i]->m_capacity >= size && (best == m_idle.size() || m_idle[i]->m_capacity < m_idle[best]->m_capacity))
        best = i;
    if (best != m_idle.size()) {
      buffer = m_idle[best];
      m_idle[best] = m_idle.back();
      m_idle.pop_back();
    }
  }
  if (!buffer) {
    // Room to grow a little, so samples of varying size reuse the same buffers.
    DWORD capacity = size < 4096 ? 4096 : size + size / 8;
    if (capacity < size) capacity = size;
    if (!PlatformAllocationAllowed()) return E_OUTOFMEMORY;
    auto* data = static_cast<BYTE*>(std::malloc(capacity));
    if (!data) return E_OUTOFMEMORY;
    buffer = new (std::nothrow) NssBuffer(data, capacity);
    if (!buffer) {
      std::free(data);
      return E_OUTOFMEMORY;
    }
  }
  buffer->m_length = 0;
  buffer->m_refs = 1;
  buffer->m_pool = this;
  AddRef();
  *out = buffer;
  return S_OK;
}

void BufferPool::Recycle(NssBuffer* buffer) {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    if (m_idle.size() < kMaxIdle) {
      try {
        m_idle.push_back(buffer);
        return;
      } catch (const std::bad_alloc&) {
      }
    }
  }
  delete buffer;
}
