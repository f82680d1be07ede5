// Names and security of the log channel's kernel objects, shared by the
// library's client and the log server (Windows).
#pragma once

#include <windows.h>
#include <psapi.h>
#include <sddl.h>

#include <cstddef>
#include <cstdint>

// Kernel object names shared with the log server. The channel names get the channel's
// name appended directly after the trailing space.
#define PICTOR_LOG_SERVER_MUTEX_NAME L"QVR QDLogLib Server Write Access"
#define PICTOR_LOG_SERVER_TABLE_NAME L"QVR QDLogLib Server File Mapped"
#define PICTOR_LOG_READY_EVENT_PREFIX L"QVR QDLogLib Log Ready "
#define PICTOR_LOG_WRITE_MUTEX_PREFIX L"QVR QDLogLib Write Access "
#define PICTOR_LOG_CHANNEL_MAPPING_PREFIX L"QVR QDLogLib File Mapped Buffer "

// Every object the channel creates gets a descriptor that lets processes of any
// integrity level (sandboxed ones included) open it.
#define PICTOR_LOG_OBJECT_SDDL                                                                \
  L"D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GA;;;IU)(A;OICI;GA;;;S-1-15-2-1)"              \
  L"(A;OICI;GA;;;S-1-15-2-2)(A;OICI;GA;;;BU)(A;OICI;GA;;;WD)(A;OICI;GA;;;AN)(A;OICI;GA;;;CO)" \
  L"(A;OICI;GA;;;LG)(A;OICI;GA;;;RC)(A;OICI;GA;;;LW)(A;OICI;GA;;;ME)(A;OICI;GA;;;MP)"         \
  L"(A;OICI;GA;;;HI)(A;OICI;GA;;;SI)S:(ML;;NW;;;LW)"

// Security attributes built from PICTOR_LOG_OBJECT_SDDL. When the conversion fails
// (Wine 8.0 rejects the string with error 1336) the descriptor is null: default security.
// Owns the descriptor; releases it with LocalFree.
class TLogSecurity {
 public:
  TLogSecurity()
  {
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = FALSE;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(PICTOR_LOG_OBJECT_SDDL, SDDL_REVISION_1, &descriptor,
                                                             nullptr))
      attributes.lpSecurityDescriptor = descriptor;
  }
  ~TLogSecurity()
  {
    if (attributes.lpSecurityDescriptor) LocalFree(attributes.lpSecurityDescriptor);
  }
  TLogSecurity(const TLogSecurity&) = delete;
  TLogSecurity& operator=(const TLogSecurity&) = delete;
  SECURITY_ATTRIBUTES* Attributes() { return &attributes; }
  bool HasDescriptor() const { return attributes.lpSecurityDescriptor != nullptr; }

 private:
  SECURITY_ATTRIBUTES attributes{};
};

// True when the `size` bytes of a view just mapped are committed, read-write memory of
// the paging file. Any process of the session can create the channel's mappings first,
// with the names the channel uses: reserve-only pages fault on the first touch, a section
// smaller than the protocol's ends inside the view, and a file-backed one can fail any
// read when its file cannot be read. So a view is checked before its first byte is read.
inline bool LogViewIsUsable(const void* view, size_t size)
{
  wchar_t file[MAX_PATH];
  // Succeeds only for views of a file.
  if (!view || GetMappedFileNameW(GetCurrentProcess(), const_cast<void*>(view), file, MAX_PATH) != 0) return false;
  const uint8_t* at = static_cast<const uint8_t*>(view);
  const uint8_t* end = at + size;
  while (at < end) {
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(at, &region, sizeof region) != sizeof region || region.AllocationBase != view ||
        region.State != MEM_COMMIT || region.Type != MEM_MAPPED || (region.Protect & PAGE_GUARD) != 0 ||
        (region.Protect & 0xFF) != PAGE_READWRITE)
      return false;
    at = static_cast<const uint8_t*>(region.BaseAddress) + region.RegionSize;
  }
  return true;
}
