#include "receiver_filter.h"

#include "allocator_size.h"
#include "dshow/com_ptr.h"
#include "dshow/sample_bytes.h"

#include <cstring>

namespace korvane::testbed {

namespace {
constexpr long kBuffer = 188 * 64;
}

ReceiverInputPin::ReceiverInputPin(ReceiverFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin(L"Receiver input", filter, lock, phr, L"MPEG-2 Transport"), receiver_(filter) {}

HRESULT ReceiverInputPin::CheckMediaType(const CMediaType* pmt) {
    return pmt->majortype == kTypeStream && pmt->subtype == kSubtypeMpeg2Transport ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE ReceiverInputPin::Receive(IMediaSample* sample) {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK)
        return hr;
    ReceiverOutputPin* out = receiver_->Output();
    if (!out->IsConnected())
        return S_OK;
    std::span<const uint8_t> source = sampleBytes(sample);
    if (source.empty())
        return S_OK;
    IMediaSample* raw = nullptr;
    hr = out->GetDeliveryBuffer(&raw, nullptr, nullptr, 0);
    if (FAILED(hr))
        return hr;
    ComPtr<IMediaSample> copy = ComPtr<IMediaSample>::adopt(raw);
    BYTE* target = nullptr;
    copy->GetPointer(&target);
    long n = std::min(long(source.size()), copy->GetSize());
    std::memcpy(target, source.data(), size_t(n));
    copy->SetActualDataLength(n);
    copy->SetTime(nullptr, nullptr);
    copy->SetDiscontinuity(sample->IsDiscontinuity() == S_OK ? TRUE : FALSE);
    return out->Deliver(copy.get());
}

HRESULT STDMETHODCALLTYPE ReceiverInputPin::EndOfStream() {
    return receiver_->Output()->IsConnected() ? receiver_->Output()->DeliverEndOfStream() : S_OK;
}

HRESULT STDMETHODCALLTYPE ReceiverInputPin::BeginFlush() {
    HRESULT hr = CBaseInputPin::BeginFlush();
    if (receiver_->Output()->IsConnected())
        receiver_->Output()->DeliverBeginFlush();
    return hr;
}

HRESULT STDMETHODCALLTYPE ReceiverInputPin::EndFlush() {
    if (receiver_->Output()->IsConnected())
        receiver_->Output()->DeliverEndFlush();
    return CBaseInputPin::EndFlush();
}

ReceiverOutputPin::ReceiverOutputPin(ReceiverFilter* filter, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin(L"Receiver output", filter, lock, phr, L"BDA Transport") {}

HRESULT ReceiverOutputPin::CheckMediaType(const CMediaType* pmt) {
    return pmt->majortype == kTypeStream &&
                   (pmt->subtype == kSubtypeBdaTransport || pmt->subtype == GUID_NULL)
               ? S_OK
               : S_FALSE;
}

HRESULT ReceiverOutputPin::GetMediaType(int position, CMediaType* pmt) {
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    pmt->InitMediaType();
    pmt->SetType(&kTypeStream);
    pmt->SetSubtype(&kSubtypeBdaTransport);
    pmt->SetSampleSize(kBuffer);
    return S_OK;
}

HRESULT ReceiverOutputPin::DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) {
    return requestBuffers(alloc, request, kBuffer);
}

CUnknown* ReceiverFilter::CreateInstance(IUnknown* outer, HRESULT* phr) {
    return new ReceiverFilter(outer, phr);
}

ReceiverFilter::ReceiverFilter(IUnknown* outer, HRESULT* phr)
    : CBaseFilter(L"Récepteur virtuel", outer, &lock_, kClsidReceiver),
      input_(std::make_unique<ReceiverInputPin>(this, &lock_, phr)),
      output_(std::make_unique<ReceiverOutputPin>(this, &lock_, phr)) {}

ReceiverFilter::~ReceiverFilter() = default;

CBasePin* ReceiverFilter::GetPin(int index) {
    if (index == 0)
        return input_.get();
    return index == 1 ? output_.get() : nullptr;
}

} // namespace korvane::testbed
