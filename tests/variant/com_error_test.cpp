// The error object and the statuses it carries.
#include "tests/variant/variant_test_support.h"

#include <gtest/gtest.h>

namespace vorkast::test {
namespace {

TEST(StatusFromLastError, MapsSystemErrorsIntoTheWin32FacilityAndPassesTheRest) {
    struct Case {
        DWORD last_error;
        DWORD status;
    };
    const Case cases[] = {
        {0, 0},                                   // nothing recorded: 0, not a failure
        {ERROR_ACCESS_DENIED, 0x80070005},
        {ERROR_NO_UNICODE_TRANSLATION, 0x80070459},
        {0x12345678, 0x80075678},                 // only the low 16 bits survive
        {0x7FFFFFFF, 0x8007FFFF},
        {0x80004005, 0x80004005},                 // already a status (negative): unchanged
        {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        ::SetLastError(c.last_error);
        const HRESULT got = status_from_last_error();
        EXPECT_EQ(static_cast<DWORD>(got), c.status)
            << "last error " << Hex(c.last_error) << ": got " << Hex(got) << ", expected "
            << Hex(c.status);
    }
}

TEST(CheckStatus, RaisesNegativeStatusesOnly) {
    const HRESULT passing[] = {S_OK, S_FALSE, 0x7FFFFFFF};
    for (const HRESULT status : passing) {
        const HRESULT got = RaisedStatus([&] { check_status(status); });
        EXPECT_EQ(got, kNothingRaised) << Hex(status) << " raised " << Hex(got);
    }
    const HRESULT failing[] = {E_FAIL, DISP_E_TYPEMISMATCH, static_cast<HRESULT>(0x80000000)};
    for (const HRESULT status : failing) {
        const HRESULT got = RaisedStatus([&] { check_status(status); });
        EXPECT_EQ(got, status) << "raised " << Hex(got) << ", expected " << Hex(status);
    }
}

TEST(RaiseStatus, ThrowsAnyStatusWithoutErrorInformation) {
    // 0 and success codes too: a failed conversion with no last error raises 0.
    for (const HRESULT status : {E_OUTOFMEMORY, S_OK, S_FALSE}) {
        try {
            raise_status(status);
            ADD_FAILURE() << Hex(status) << " was not raised";
        } catch (const _com_error& e) {
            EXPECT_EQ(e.Error(), status) << "got " << Hex(e.Error());
            EXPECT_EQ(e.ErrorInfo(), nullptr);
        }
    }
}

TEST(ComError, HoldsOneReferenceOnItsErrorInformationPerObject) {
    CountingErrorInfo info;
    {
        _com_error borrowed(E_FAIL, &info);  // adopts the caller's reference
        EXPECT_EQ(info.refs(), 1) << "constructed without add_ref";
        info.AddRef();                       // the reference `borrowed` releases
    }
    EXPECT_EQ(info.refs(), 1) << "after destroying the adopting object";
    {
        _com_error original(E_ABORT, &info, true);
        EXPECT_EQ(info.refs(), 2) << "constructed with add_ref";
        {
            const _com_error copy(original);
            EXPECT_EQ(info.refs(), 3) << "after copying";
            EXPECT_EQ(copy.Error(), E_ABORT) << "copy's status " << Hex(copy.Error());
            EXPECT_EQ(copy.ErrorInfo(), &info);
        }
        EXPECT_EQ(info.refs(), 2) << "after destroying the copy";
    }
    EXPECT_EQ(info.refs(), 1) << "after destroying the original";
}

TEST(ComError, AssignmentMovesTheReferenceToTheNewInformation) {
    CountingErrorInfo first;
    CountingErrorInfo second;
    {
        _com_error target(E_FAIL, &first, true);
        const _com_error source(E_ABORT, &second, true);
        target = source;
        EXPECT_EQ(first.refs(), 1) << "the replaced information";
        EXPECT_EQ(second.refs(), 3) << "the assigned information";
        EXPECT_EQ(target.Error(), E_ABORT) << "got " << Hex(target.Error());
        EXPECT_EQ(target.ErrorInfo(), &second);

        const _com_error& same = target;
        target = same;
        EXPECT_EQ(second.refs(), 3) << "after assigning an object to itself";
        EXPECT_EQ(target.ErrorInfo(), &second);
    }
    EXPECT_EQ(first.refs(), 1);
    EXPECT_EQ(second.refs(), 1);
}

TEST(ComError, ThrownAndCopiedReleasesEveryReference) {
    CountingErrorInfo info;
    try {
        throw _com_error(E_FAIL, &info, true);
    } catch (const _com_error& thrown) {
        const _com_error kept = thrown;
        EXPECT_EQ(info.refs(), 3) << "the thrown object and its copy";
        EXPECT_EQ(kept.Error(), E_FAIL);
    }
    EXPECT_EQ(info.refs(), 1) << "after the handler";
}

}  // namespace
}  // namespace vorkast::test
