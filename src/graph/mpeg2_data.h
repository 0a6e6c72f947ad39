#pragma once

// The platform's sections-and-tables interfaces, declared here with the platform's method
// order: the MinGW header lists ISectionList's methods in another order, which would call
// the wrong slots. The program's scan and the testbed's section reader both use these.

#include "dshow/platform.h"

// The MinGW structures header first includes its interface header, whose declarations have
// the wrong layout (and say so with #warning). Its guard is set here and the two types and
// the structure the structures need are declared as it would declare them.
#if defined(__MINGW32__) && !defined(__INC_MPEG2DATA__)
#define __INC_MPEG2DATA__
typedef WORD PID;
typedef BYTE TID;
typedef struct _ATSC_FILTER_OPTIONS {
    WINBOOL fSpecifyEtmId;
    DWORD EtmId;
} ATSC_FILTER_OPTIONS;
#endif
#include <mpeg2structs.h>

namespace korvane {

inline constexpr IID kIidMpeg2Data = {
    0x9b396d40, 0xf380, 0x4e3c, {0xa5, 0x14, 0x1a, 0x82, 0xbf, 0x6e, 0xbf, 0xe6}};
inline constexpr IID kIidSectionList = {
    0xafec1eb5, 0x2a64, 0x46c6, {0xbf, 0x4b, 0xae, 0x3c, 0xcb, 0x6a, 0xfd, 0xb0}};

struct IMpeg2Data;

struct ISectionList : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(MPEG_REQUEST_TYPE requestType, IMpeg2Data* data,
                                                 PMPEG_CONTEXT context, PID pid, TID tid,
                                                 PMPEG2_FILTER filter, DWORD timeout,
                                                 HANDLE doneEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE InitializeWithRawSections(PMPEG_PACKET_LIST sections) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelPendingRequest() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfSections(WORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSectionData(WORD sectionNumber, DWORD* rawLength,
                                                     PSECTION* section) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProgramIdentifier(PID* pid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTableIdentifier(TID* tid) = 0;
};

struct IMpeg2Data : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSection(PID pid, TID tid, PMPEG2_FILTER filter,
                                                 DWORD timeoutMs, ISectionList** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTable(PID pid, TID tid, PMPEG2_FILTER filter,
                                               DWORD timeoutMs, ISectionList** list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamOfSections(PID pid, TID tid, PMPEG2_FILTER filter,
                                                          HANDLE dataReady, IUnknown** stream) = 0;
};

} // namespace korvane
