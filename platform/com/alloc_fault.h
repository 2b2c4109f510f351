// Test seam for allocation failure: lets a test make the platform's allocations fail on demand,
// so that every E_OUTOFMEMORY path can be exercised. CoTaskMemAlloc consults it, and so does
// every allocation that code makes through PlatformAllocationAllowed().
#pragma once

// After `successes` more allocations succeed, the next `failures` fail (a negative count means
// all of them). FailAllocations(-1, 0) turns the fault off.
void FailAllocations(long successes, long failures = 1);
// Consumes one allocation decision: false when this allocation is to fail.
bool PlatformAllocationAllowed();

// Scoped form for tests: fail the (n+1)-th allocation from now, restore on exit.
class AllocationFault {
 public:
  explicit AllocationFault(long successes, long failures = 1) { FailAllocations(successes, failures); }
  ~AllocationFault() { FailAllocations(-1, 0); }
  AllocationFault(const AllocationFault&) = delete;
  AllocationFault& operator=(const AllocationFault&) = delete;
};
