// Event arguments passed by typed reference (VT_BYREF|VT_I2, VT_BYREF|VT_BSTR,
// VT_BYREF|VT_BOOL, ...) handed to a script handler as VT_BYREF|VT_VARIANT.
// The script engines write a handler's assignment to a parameter back only
// through a variant reference, so each typed reference gets a variant copy for
// the call, and the copy goes back through the original reference afterwards.
#pragma once

#include "com_util.h"

#include <memory>
#include <string>
#include <vector>

class ByRefArguments {
public:
    // `original` must outlive this object; its order (last argument first) is kept.
    explicit ByRefArguments(const DISPPARAMS& original);

    DISPPARAMS* params() { return &params_; }

    // Converts each copy back to its reference's type and stores it there.
    // A copy that does not convert leaves its reference unchanged and is named
    // in `problem`; the other references are still written.
    bool write_back(std::wstring& problem);

private:
    const DISPPARAMS& original_;
    std::vector<VARIANT> passed_;
    std::unique_ptr<Variant[]> copies_;
    std::vector<bool> wrapped_;
    DISPPARAMS params_{};
};
