// Loopback capture on Windows: WASAPI shared-mode loopback of one render
// endpoint, on a worker thread in the multithreaded COM apartment with MMCSS
// "Pro Audio" scheduling and a 1 ms system timer.
#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>
#include <mmsystem.h>
#include <propidl.h>
#include <propsys.h>
#include <windows.h>

#include <cstring>
#include <memory>

#include "base/engine_error.h"
#include "base/text.h"
#include "engine/audio/audio_loopback_capture.h"
#include "engine/audio/loopback_client.h"
#include "engine/audio/win/com_ptr.h"

namespace zel {

namespace {

// {BCDE0395-E52F-467C-8E3D-C4579291692E}
const CLSID kMMDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
// {A95664D2-9614-4F35-A746-DE8DB63617E6}
const IID kIMMDeviceEnumerator = {
    0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
// {1CB9AD4C-DBFA-4C32-B178-C2F568A703B2}
const IID kIAudioClient = {
    0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
// {C8ADBD64-E71E-48A0-A4DE-185C395CD317}
const IID kIAudioCaptureClient = {
    0xC8ADBD64, 0xE71E, 0x48A0, {0xA4, 0xDE, 0x18, 0x5C, 0x39, 0x5C, 0xD3, 0x17}};
// PKEY_Device_FriendlyName
const PROPERTYKEY kFriendlyName = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};

void check(HRESULT hr, const char* step) {
    if (FAILED(hr)) throw EngineError(0, hresult_text(step, hr));
}

std::u16string wide(const wchar_t* text) {
    return text != nullptr ? std::u16string(reinterpret_cast<const char16_t*>(text))
                           : std::u16string();
}

std::u16string device_id(IMMDevice* device) {
    LPWSTR id = nullptr;
    check(device->GetId(&id), "Read audio device ID");
    std::u16string result = wide(id);
    CoTaskMemFree(id);
    return result;
}

// The endpoint's friendly name; "Audio output" when it has none. Each step's
// failure throws with its own text when `openStep` is given.
std::u16string friendly_name(IMMDevice* device, const char* openStep, const char* readStep) {
    ComPtr<IPropertyStore> store;
    check(device->OpenPropertyStore(STGM_READ, store.put()), openStep);
    PROPVARIANT value;
    PropVariantInit(&value);
    check(store->GetValue(kFriendlyName, &value), readStep);
    std::u16string name =
        value.vt == VT_LPWSTR && value.pwszVal != nullptr ? wide(value.pwszVal) : u"Audio output";
    PropVariantClear(&value);
    return name;
}

WaveFormatFields fields_of(const WAVEFORMATEX* f) {
    WaveFormatFields w;
    w.formatTag = f->wFormatTag;
    w.channels = f->nChannels;
    w.samplesPerSec = f->nSamplesPerSec;
    w.blockAlign = f->nBlockAlign;
    w.bitsPerSample = f->wBitsPerSample;
    w.extensionSize = f->cbSize;
    if (f->wFormatTag == WAVE_FORMAT_EXTENSIBLE && f->cbSize >= 22) {
        const auto* x = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(f);
        w.channelMask = x->dwChannelMask;
        std::memcpy(w.subFormat, &x->SubFormat, sizeof w.subFormat);
    }
    return w;
}

class WasapiLoopbackClient : public LoopbackCaptureClient {
  public:
    ~WasapiLoopbackClient() override {
        capture_.reset();
        client_.reset();
        device_.reset();
        enumerator_.reset();
        if (mixFormat_ != nullptr) CoTaskMemFree(mixFormat_);
        if (comInitialised_) CoUninitialize();
        if (mmcss_ != nullptr) AvRevertMmThreadCharacteristics(mmcss_);
        if (timerRaised_) timeEndPeriod(1);
    }

    bool enterThread() override {
        comInitialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        if (!comInitialised_) return false;
        timerRaised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
        DWORD taskIndex = 0;
        mmcss_ = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
        if (mmcss_ != nullptr) AvSetMmThreadPriority(mmcss_, AVRT_PRIORITY_HIGH);
        return true;
    }

    void open(const std::u16string& deviceId) override {
        check(CoCreateInstance(kMMDeviceEnumerator, nullptr, CLSCTX_ALL, kIMMDeviceEnumerator,
                               enumerator_.putVoid()),
              "Create audio device enumerator");
        if (deviceId.empty()) {
            check(enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, device_.put()),
                  "Get default audio output");
        } else if (FAILED(enumerator_->GetDevice(reinterpret_cast<LPCWSTR>(deviceId.c_str()),
                                                 device_.put()))) {
            throw EngineError(0, "Selected audio output is unavailable; waiting to reconnect");
        }
        openedId_ = device_id(device_.get());
        // A name that cannot be read does not stop the capture.
        try {
            name_ = utf16_to_utf8(friendly_name(device_.get(), "Open audio device properties",
                                                "Read audio device name"));
        } catch (const EngineError&) {
            name_ = "Audio output";
        }
    }

    std::u16string openedId() const override { return openedId_; }
    std::string friendlyName() const override { return name_; }

    DeviceFormat mixFormat() override {
        check(device_->Activate(kIAudioClient, CLSCTX_ALL, nullptr, client_.putVoid()),
              "Activate audio loopback");
        check(client_->GetMixFormat(&mixFormat_), "Read audio mix format");
        return device_format_from_wave_format(fields_of(mixFormat_));
    }

    void start() override {
        check(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_LOOPBACK, 0, 0,
                                  mixFormat_, nullptr),
              "Initialize WASAPI loopback");
        check(client_->GetService(kIAudioCaptureClient, capture_.putVoid()),
              "Get WASAPI capture client");
        check(client_->Start(), "Start WASAPI loopback");
    }

    uint32_t nextPacketFrames(bool afterPacket) override {
        UINT32 frames = 0;
        check(capture_->GetNextPacketSize(&frames),
              afterPacket ? "Read next WASAPI packet size" : "Read WASAPI packet size");
        return frames;
    }

    LoopbackPacket acquirePacket() override {
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        check(capture_->GetBuffer(&data, &frames, &flags, nullptr, nullptr),
              "Acquire WASAPI packet");
        LoopbackPacket packet;
        packet.data = data;
        packet.frames = frames;
        packet.silent = (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0;
        return packet;
    }

    void releasePacket(uint32_t frames) override {
        check(capture_->ReleaseBuffer(frames), "Release WASAPI packet");
    }

    bool defaultOutputId(std::u16string& id) override {
        ComPtr<IMMDevice> current;
        if (FAILED(enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, current.put())))
            return false;
        LPWSTR text = nullptr;
        if (FAILED(current->GetId(&text))) return false;
        id = wide(text);
        CoTaskMemFree(text);
        return true;
    }

    void stop() override {
        if (client_) client_->Stop();
    }

  private:
    bool comInitialised_ = false;
    bool timerRaised_ = false;
    HANDLE mmcss_ = nullptr;
    ComPtr<IMMDeviceEnumerator> enumerator_;
    ComPtr<IMMDevice> device_;
    ComPtr<IAudioClient> client_;
    ComPtr<IAudioCaptureClient> capture_;
    WAVEFORMATEX* mixFormat_ = nullptr;
    std::u16string openedId_;
    std::string name_;
};

}  // namespace

std::unique_ptr<LoopbackCaptureClient> create_loopback_capture_client() {
    return std::make_unique<WasapiLoopbackClient>();
}

std::vector<AudioDeviceInfo> listAudioOutputs() {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(init) && init != RPC_E_CHANGED_MODE) {
        throw EngineError(0, "COM initialization for audio devices failed");
    }
    struct ComScope {
        bool initialised;
        ~ComScope() {
            if (initialised) CoUninitialize();
        }
    } scope{SUCCEEDED(init)};

    std::vector<AudioDeviceInfo> outputs;
    {
        ComPtr<IMMDeviceEnumerator> enumerator;
        check(CoCreateInstance(kMMDeviceEnumerator, nullptr, CLSCTX_ALL, kIMMDeviceEnumerator,
                               enumerator.putVoid()),
              "Create audio device enumerator");
        std::u16string defaultId;
        bool haveDefault = false;
        {
            ComPtr<IMMDevice> device;
            if (SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put()))) {
                LPWSTR id = nullptr;
                if (SUCCEEDED(device->GetId(&id))) {
                    defaultId = wide(id);
                    haveDefault = true;
                    CoTaskMemFree(id);
                }
            }
        }
        ComPtr<IMMDeviceCollection> collection;
        check(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, collection.put()),
              "Enumerate audio outputs");
        UINT count = 0;
        check(collection->GetCount(&count), "Count audio outputs");
        for (UINT i = 0; i < count; ++i) {
            ComPtr<IMMDevice> device;
            check(collection->Item(i, device.put()), "Read audio output");
            AudioDeviceInfo info;
            info.id = device_id(device.get());
            info.name = friendly_name(device.get(), "Open audio device properties",
                                      "Read audio device name");
            info.isDefault = haveDefault && info.id == defaultId;
            outputs.push_back(std::move(info));
        }
    }
    return outputs;
}

}  // namespace zel
