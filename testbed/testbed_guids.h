#pragma once

// Identifiers and interfaces of the platform components the testbed stands in for. The
// sections-and-tables interfaces are declared here with the platform's method order (the
// MinGW header lists ISectionList's methods in another order, which would call the wrong
// slots).

#include "dshow/platform.h"

#include <bdaiface.h>
#include <bdatypes.h>
#include <mpeg2structs.h>

namespace korvane::testbed {

inline constexpr CLSID kClsidMpeg2Demultiplexer = {
    0xafb6c280, 0x2c41, 0x11d3, {0x8a, 0x60, 0x00, 0x00, 0xf8, 0x1e, 0x0e, 0x4a}};
inline constexpr CLSID kClsidMpeg2Data = {
    0xc666e115, 0xbb62, 0x4027, {0xa1, 0x13, 0x82, 0xd6, 0x43, 0xfe, 0x2d, 0x99}};
// The testbed's own tuners and receiver.
inline constexpr CLSID kClsidUsbTuner = {
    0x4b6f7276, 0x616e, 0x4501, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x01}};
inline constexpr CLSID kClsidCardTuner = {
    0x4b6f7276, 0x616e, 0x4501, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x02}};
inline constexpr CLSID kClsidReceiver = {
    0x4b6f7276, 0x616e, 0x4501, {0x9e, 0x51, 0x54, 0x65, 0x73, 0x74, 0x62, 0x03}};

inline constexpr GUID kCategoryBdaNetworkTuner = {
    0x71985f48, 0x1ca1, 0x11d3, {0x9c, 0xc8, 0x00, 0xc0, 0x4f, 0x79, 0x71, 0xe0}};
inline constexpr GUID kCategoryBdaReceiver = {
    0xfd0a5af4, 0xb41d, 0x11d2, {0x9c, 0x95, 0x00, 0xc0, 0x4f, 0x79, 0x71, 0xe0}};
inline constexpr GUID kCategoryLegacyFilters = {
    0x083863f1, 0x70de, 0x11d0, {0xbd, 0x40, 0x00, 0xa0, 0xc9, 0x11, 0xce, 0x86}};

inline constexpr GUID kTypeBdaAntenna = {
    0x71985f41, 0x1ca1, 0x11d3, {0x9c, 0xc8, 0x00, 0xc0, 0x4f, 0x79, 0x71, 0xe0}};
inline constexpr GUID kTypeStream = {
    0xe436eb83, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
inline constexpr GUID kSubtypeBdaTransport = {
    0xf4aeb342, 0x0329, 0x4fdd, {0xa8, 0xfd, 0x4a, 0xff, 0x49, 0x26, 0xc9, 0x78}};
inline constexpr GUID kSubtypeMpeg2Transport = {
    0xe06d8023, 0xdb46, 0x11cf, {0xb4, 0xd1, 0x00, 0x80, 0x5f, 0x6c, 0xbb, 0xea}};
inline constexpr GUID kTypeMpeg2Sections = {
    0x455f176c, 0x4b06, 0x47ce, {0x9a, 0xef, 0x8c, 0xae, 0xf7, 0x3d, 0xf7, 0xb5}};

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

// Live objects of the testbed DLL, for DllCanUnloadNow and the leak tests.
long testbedObjectCount();

} // namespace korvane::testbed
