// Shared test scaffolding: every framework test ends with the live-object count where it began,
// and runs in a machine root of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "framework/combase.h"
#include "platform/dshow/clock.h"

// A temporary machine root for the whole test program, removed at its end.
class TemporaryMachineRoot : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/pelistra-framework-XXXXXX";
    m_root = mkdtemp(pattern);
    setenv("PELISTRA_ROOT", m_root.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(m_root, ignored);
  }
  const std::string& Root() const { return m_root; }

 private:
  std::string m_root;
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override { m_objectsAtStart = CBaseObject::ObjectsActive(); }
  void TearDown() override {
    EXPECT_EQ(CBaseObject::ObjectsActive(), m_objectsAtStart) << "a framework object outlived the test";
  }

 private:
  LONG m_objectsAtStart = 0;
};

// A reference clock whose time the test sets.
class ManualClock final : public IReferenceClock {
 public:
  REFERENCE_TIME now = 0;
  HRESULT failure = S_OK;
  LONG refs = 1;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IReferenceClock) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override {
    if (FAILED(failure)) return failure;
    *time = now;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
};
