#pragma once

#include <windows.h>

#include "dshow/platform.h"

namespace korvane {

// Frees the format block and the extra interface of a media type, not the type itself.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a media type handed out with CoTaskMemAlloc, format block included.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// Deep copy into dest (which holds nothing yet); E_OUTOFMEMORY leaves dest empty.
HRESULT CopyMediaType(AM_MEDIA_TYPE* dest, const AM_MEDIA_TYPE* source);
// A deep copy in CoTaskMem memory, as enumerators hand out; null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

// An AM_MEDIA_TYPE that owns its format block (allocated with CoTaskMemAlloc).
class CMediaType : public AM_MEDIA_TYPE {
  public:
    CMediaType();
    explicit CMediaType(const GUID& majorType);
    CMediaType(const AM_MEDIA_TYPE& other);
    CMediaType(const CMediaType& other);
    ~CMediaType();
    CMediaType& operator=(const AM_MEDIA_TYPE& other);
    CMediaType& operator=(const CMediaType& other);

    // Whole-type comparison: GUIDs, flags and format bytes.
    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }

    bool IsValid() const { return majortype != GUID_NULL; }
    const GUID* Type() const { return &majortype; }
    const GUID* Subtype() const { return &subtype; }
    const GUID* FormatType() const { return &formattype; }
    ULONG FormatLength() const { return cbFormat; }
    BYTE* Format() const { return pbFormat; }

    void SetType(const GUID* type) { majortype = *type; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    void SetFormatType(const GUID* type) { formattype = *type; }
    void SetSampleSize(ULONG size);
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }
    // Replaces the format block with a copy of length bytes; false when out of memory.
    bool SetFormat(const BYTE* format, ULONG length);
    // A zero-filled format block of length bytes, or null when out of memory.
    BYTE* AllocFormatBuffer(ULONG length);
    void ResetFormatBuffer();
    // Back to the empty type (GUID_NULL everywhere, fixed-size samples of 1 byte).
    void InitMediaType();

    // True when the major type or the format type is GUID_NULL: the connection then
    // enumerates the pins' own types.
    bool IsPartiallySpecified() const;
    // True when every field that `partial` specifies matches this type.
    bool MatchesPartial(const CMediaType* partial) const;
};

} // namespace korvane
