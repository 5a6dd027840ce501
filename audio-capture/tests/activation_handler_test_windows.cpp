// The activation completion object: its COM identity and interfaces, its
// free-threaded marshalling, and a completion that comes after the
// activating code has given up.

#include <gtest/gtest.h>

#include <thread>

#include "capture/windows/activation_handler.hpp"

namespace audio::capture::windows {
namespace {

// Joins the multithreaded apartment for one test.
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_MULTITHREADED) : result_(CoInitializeEx(nullptr, model)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    [[nodiscard]] bool ok() const { return SUCCEEDED(result_); }

private:
    HRESULT result_;
};

bool handle_is_open(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != 0;
}

template <class T>
ComPtr<T> query(IUnknown* object, HRESULT* result = nullptr) {
    ComPtr<T> answer;
    const HRESULT hr = object->QueryInterface(__uuidof(T), answer.put_void());
    if (result != nullptr) {
        *result = hr;
    }
    return answer;
}

ComPtr<IUnknown> identity_of(IUnknown* object) { return query<IUnknown>(object); }

TEST(ActivationHandler, AnswersItsInterfacesWithOneIdentity) {
    auto handler = ActivationHandler::create();
    ASSERT_TRUE(handler.has_value());
    IUnknown* self = static_cast<IInspectable*>(handler->get());

    const auto identity = identity_of(self);
    const auto inspectable = query<IInspectable>(self);
    const auto completion = query<IActivateAudioInterfaceCompletionHandler>(self);
    const auto agile = query<IAgileObject>(self);
    ASSERT_TRUE(identity && inspectable && completion && agile);
    EXPECT_EQ(static_cast<IUnknown*>(inspectable.get()), identity.get()) << "IInspectable is the identity";
    for (IUnknown* face : {static_cast<IUnknown*>(completion.get()), static_cast<IUnknown*>(agile.get())}) {
        EXPECT_EQ(identity_of(face).get(), identity.get());
    }
}

TEST(ActivationHandler, RefusesUnknownInterfacesAndNullPointers) {
    auto handler = ActivationHandler::create();
    ASSERT_TRUE(handler.has_value());
    IUnknown* self = static_cast<IInspectable*>(handler->get());

    void* answer = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(self->QueryInterface(__uuidof(IDispatch), &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(self->QueryInterface(__uuidof(IUnknown), nullptr), E_POINTER);

    // A C caller can pass a null interface id: call through the vtable as it would.
    using QueryFunction = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, const IID*, void**);
    QueryFunction query_slot = (*reinterpret_cast<QueryFunction**>(self))[0];
    answer = nullptr;
    EXPECT_EQ(query_slot(self, nullptr, &answer), E_POINTER);
    EXPECT_EQ(answer, nullptr);
}

TEST(ActivationHandler, InspectableMethodsReturnNothing) {
    auto handler = ActivationHandler::create();
    ASSERT_TRUE(handler.has_value());
    ActivationHandler& self = *handler->get();

    ULONG count = 7;
    IID* ids = reinterpret_cast<IID*>(0x1);
    EXPECT_EQ(self.GetIids(&count, &ids), S_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(ids, nullptr);
    HSTRING name = reinterpret_cast<HSTRING>(0x1);
    EXPECT_EQ(self.GetRuntimeClassName(&name), S_OK);
    EXPECT_EQ(name, nullptr);
    TrustLevel level = FullTrust;
    EXPECT_EQ(self.GetTrustLevel(&level), S_OK);
    EXPECT_EQ(level, BaseTrust);

    EXPECT_EQ(self.GetIids(nullptr, &ids), E_POINTER);
    EXPECT_EQ(self.GetIids(&count, nullptr), E_POINTER);
    EXPECT_EQ(self.GetRuntimeClassName(nullptr), E_POINTER);
    EXPECT_EQ(self.GetTrustLevel(nullptr), E_POINTER);
}

TEST(ActivationHandler, MarshalsFreeThreadedThroughItsForwarder) {
    ComApartment apartment;
    ASSERT_TRUE(apartment.ok());
    auto handler = ActivationHandler::create();
    ASSERT_TRUE(handler.has_value());
    IUnknown* self = static_cast<IInspectable*>(handler->get());
    const auto identity = identity_of(self);

    HRESULT found = E_FAIL;
    const auto marshal = query<IMarshal>(self, &found);
    ASSERT_EQ(found, S_OK);
    ASSERT_TRUE(marshal);
    EXPECT_EQ(identity_of(marshal.get()).get(), identity.get()) << "the forwarder shares the identity";
    EXPECT_EQ(query<IMarshal>(marshal.get()).get(), marshal.get()) << "the forwarder answers IMarshal itself";
    EXPECT_TRUE(query<IActivateAudioInterfaceCompletionHandler>(marshal.get())) << "other queries go to the handler";

    CLSID unmarshaler{};
    ASSERT_EQ(marshal->GetUnmarshalClass(__uuidof(IUnknown), self, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL,
                                         &unmarshaler),
              S_OK);
    ComPtr<IUnknown> reference_marshaler;
    ASSERT_EQ(CoCreateFreeThreadedMarshaler(nullptr, reference_marshaler.put()), S_OK);
    CLSID expected{};
    ASSERT_EQ(query<IMarshal>(reference_marshaler.get())
                  ->GetUnmarshalClass(__uuidof(IUnknown), self, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL, &expected),
              S_OK);
    EXPECT_TRUE(IsEqualCLSID(unmarshaler, expected));

    // Handed from this apartment to a single-threaded one, the handler comes
    // back as itself, not as a proxy.
    ComPtr<IStream> stream;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(__uuidof(IActivateAudioInterfaceCompletionHandler), self,
                                                    stream.put()),
              S_OK);
    IUnknown* seen_there = nullptr;
    HRESULT unmarshalled = E_FAIL;
    std::thread other([&] {
        ComApartment single(COINIT_APARTMENTTHREADED);
        ComPtr<IActivateAudioInterfaceCompletionHandler> there;
        unmarshalled = CoGetInterfaceAndReleaseStream(stream.detach(),
                                                      __uuidof(IActivateAudioInterfaceCompletionHandler),
                                                      there.put_void());
        if (there) {
            seen_there = identity_of(there.get()).get();
        }
    });
    other.join();
    EXPECT_EQ(unmarshalled, S_OK);
    EXPECT_EQ(seen_there, identity.get());
}

TEST(ActivationHandler, CompletionSignalsItsEvent) {
    auto handler = ActivationHandler::create();
    ASSERT_TRUE(handler.has_value());
    const HANDLE event = (*handler)->completion_event();
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "created not signalled";
    EXPECT_EQ((*handler)->ActivateCompleted(nullptr), S_OK);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "manual reset: stays signalled";
}

TEST(ActivationHandler, LateCompletionFindsItsOwnEventStillOpen) {
    auto handler = ActivationHandler::create();
    ASSERT_TRUE(handler.has_value());
    const HANDLE event = (*handler)->completion_event();

    // The system holds its own reference while the activation runs.
    auto system_reference = query<IActivateAudioInterfaceCompletionHandler>(static_cast<IInspectable*>(handler->get()));
    ASSERT_TRUE(system_reference);

    // The activating code times out and gives up its reference.
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    handler->reset();
    ASSERT_TRUE(handle_is_open(event)) << "the event lives as long as the handler";

    // The completion comes late, on another thread, and signals a live event.
    HRESULT completed = E_FAIL;
    std::thread system_thread([&] { completed = system_reference->ActivateCompleted(nullptr); });
    system_thread.join();
    EXPECT_EQ(completed, S_OK);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

    // The system lets go: the handler is freed and closes its event.
    system_reference.reset();
    EXPECT_FALSE(handle_is_open(event));
}

}  // namespace
}  // namespace audio::capture::windows
