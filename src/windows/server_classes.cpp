#include "server_classes.h"

#include "corvane_idl.h"
#include "corvane_object.h"
#include "mime_object.h"
#include "property_pages.h"

namespace corvane::win {

namespace {

constexpr ServerClass kClasses[] = {
    {&CLSID_Corvane, L"prjCorvane.Corvane", L"Corvane mail control", createCorvaneControl, true},
    {&CLSID_MIME, L"prjCorvane.MIME", L"Corvane MIME message composer", createMimeObject, false},
    {&CLSID_pagPOP3, L"prjCorvane.pagPOP3", L"Corvane property page Receiving", createPop3Page, false},
    {&CLSID_pagSMTP, L"prjCorvane.pagSMTP", L"Corvane property page Sending", createSmtpPage, false},
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
