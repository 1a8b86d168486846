#include "server_classes.h"

#include "corvane_idl.h"
#include "corvane_object.h"
#include "mime_object.h"

namespace corvane::win {

namespace {

// Only classes that work are served and registered. The property pages `pagPOP3`
// and `pagSMTP` join this table when they do.
constexpr ServerClass kClasses[] = {
    {&CLSID_Corvane, L"prjCorvane.Corvane", L"Corvane mail control", createCorvaneControl, true},
    {&CLSID_MIME, L"prjCorvane.MIME", L"Corvane MIME message composer", createMimeObject, false},
};

}  // namespace

std::span<const ServerClass> serverClasses() { return kClasses; }

const ServerClass* findServerClass(REFCLSID clsid) {
  for (const ServerClass& entry : kClasses) {
    if (*entry.clsid == clsid) return &entry;
  }
  return nullptr;
}

}  // namespace corvane::win
