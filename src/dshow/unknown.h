#pragma once

#include <windows.h>

#include <unknwn.h>

namespace korvane {

// The inner IUnknown of an object that may be aggregated: the outer object's IUnknown
// forwards here, and the object's own interfaces forward to the outer one.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

  protected:
    ~INonDelegatingUnknown() = default;
};

// Hands out one interface pointer with a reference taken on it.
HRESULT GetInterface(IUnknown* unknown, void** ppv);

// Objects of this layer currently alive (every CUnknown, pins and enumerators included);
// teardown tests compare it before and after.
long liveObjectCount();

// Reference-counted base of every COM object of ours. The object deletes itself when its
// count falls to 0. The count is atomic; no lock is taken.
class CUnknown : public INonDelegatingUnknown {
  public:
    CUnknown(const wchar_t* objectName, IUnknown* outer);
    virtual ~CUnknown();
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // The IUnknown that answers for this object: the outer object when aggregated.
    IUnknown* GetOwner() const { return owner_; }
    const wchar_t* ObjectName() const { return name_; }

    // The object's own IUnknown, answering with the non-delegating methods: the owner of an
    // object that is not aggregated, and what an aggregating object holds.
    IUnknown* NonDelegatingUnknown() { return &inner_; }

  protected:
    // Runs when the count has fallen to 0, before any destructor: what must end while the
    // whole object still exists (a worker thread calling its virtual methods) ends here.
    virtual void FinalRelease() {}

    volatile LONG m_cRef = 0;

  private:
    struct InnerUnknown final : IUnknown {
        explicit InnerUnknown(CUnknown* object) : self(object) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            return self->NonDelegatingQueryInterface(riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return self->NonDelegatingAddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return self->NonDelegatingRelease(); }
        CUnknown* self;
    };

    const wchar_t* name_;
    InnerUnknown inner_;
    IUnknown* owner_;
};

} // namespace korvane

// The IUnknown methods of a class deriving from CUnknown and from COM interfaces: they go
// through the owner, which is the object itself when it is not aggregated.
#define DECLARE_IUNKNOWN                                                                           \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {                   \
        return GetOwner()->QueryInterface(riid, ppv);                                              \
    }                                                                                              \
    ULONG STDMETHODCALLTYPE AddRef() override {                                                    \
        return GetOwner()->AddRef();                                                               \
    }                                                                                              \
    ULONG STDMETHODCALLTYPE Release() override {                                                   \
        return GetOwner()->Release();                                                              \
    }
