#include "CameraSession.h"

#include <utility>

namespace {

// A preview that has delivered nothing for this long has stopped (the first composite
// may take longer: the camera opens, and a Direct3D device is made).
constexpr ULONGLONG kFirstFrameLimitMs = 6000;
constexpr ULONGLONG kStallLimitMs = 2500;
// How long the camera check waits for a frame or a failure, and the pause between checks.
constexpr ULONGLONG kCheckLimitMs = 3000;
constexpr ULONGLONG kRetryMs = 2000;

bool IgnoreFrame(unsigned int, unsigned int, bool, unsigned char*, void*)
{
  return true;
}

std::wstring Widen(const char* text)
{
  std::wstring wide;
  for (; *text; ++text) wide += static_cast<wchar_t>(static_cast<unsigned char>(*text));
  return wide;
}

TRemoveBackgroundColorType ColorType(TKeyChoice keying)
{
  return keying == TKeyChoice::Blue ? rbcBlue : keying == TKeyChoice::Custom ? rbcCustom : rbcGreen;
}

}  // namespace

TCameraSession::TCameraSession(HWND window, UINT frameMessage, unsigned long long keepNumber)
    : window_(window), frameMessage_(frameMessage), mailbox_(keepNumber)
{
}

TCameraSession::~TCameraSession()
{
  Stop();
}

bool TCameraSession::OnComposite(unsigned int width, unsigned int height, unsigned int pitch, unsigned char* pixels,
                                 void* context)
{
  auto* session = static_cast<TCameraSession*>(context);
  try {
    if (session->mailbox_.Put(width, height, pitch, pixels))
      PostMessageW(session->window_, session->frameMessage_, 0, 0);
  } catch (...) {
    // No memory for the copy: this composite is not shown; nothing goes back to the library.
  }
  return true;
}

void TCameraSession::Start(const TPreviewSettings& settings)
{
  Stop();
  settings_ = settings;
  reason_.clear();
  if (settings_.link.empty()) {
    state_ = TSessionState::NoCamera;
    return;
  }
  Launch();
}

void TCameraSession::Stop()
{
  DestroyPreview();
  check_.reset();
  state_ = TSessionState::NoCamera;
}

void TCameraSession::Launch()
{
  preview_.reset(new TPictorD3D9Preview);
  preview_->SetRenderer(settings_.direct3D ? prDirect3D9 : prSoftware);
  preview_->SetConversion(settings_.builtInConversion ? pcBuiltIn : pcSystemConverter);
  preview_->SetSpillSuppression(settings_.spill);
  preview_->SetEdgeChoke(static_cast<unsigned int>(settings_.choke));
  ApplyBackground();
  TPictorD3D9PreviewChromaKeyingParams keying(settings_.sensitivity, settings_.smoothing,
                                              static_cast<unsigned char>(settings_.opacity),
                                              ColorType(settings_.keying), settings_.keyColor);
  ApplyKeyingMode(TKeyChoice::Off);
  const bool keyed = settings_.keying != TKeyChoice::Off;
  if (!preview_->StartPreview(settings_.link.c_str(), settings_.formatIndex, true, nullptr, keyed ? &keying : nullptr,
                              OnComposite, this)) {
    DestroyPreview();
    CheckCamera();
    return;
  }
  state_ = TSessionState::Starting;
  reason_.clear();
  lastFrameTick_ = GetTickCount64();
  lastDelivered_ = mailbox_.Delivered();
}

void TCameraSession::DestroyPreview()
{
  preview_.reset();  // stops its capture: no composite arrives after this
}

void TCameraSession::ApplyKeying()
{
  if (!preview_ || settings_.keying == TKeyChoice::Off) return;
  preview_->SetChromaKeyingColor(ColorType(settings_.keying), settings_.keyColor);
  preview_->SetSensitivity(settings_.sensitivity);
  preview_->SetSmoothing(settings_.smoothing);
  preview_->SetOpacity(static_cast<unsigned char>(settings_.opacity));
}

void TCameraSession::ApplyKeyingMode(TKeyChoice fallback)
{
  if (!preview_) return;
  const bool person = settings_.keying == TKeyChoice::Person;
  personRefused_ = person && !preview_->SetKeyingMode(kmPerson);
  if (!person) preview_->SetKeyingMode(kmColor);
  // The runtime or model is not beside Pictor.dll (the log says which).
  if (personRefused_) settings_.keying = fallback;
}

void TCameraSession::ApplyBackground()
{
  if (!preview_) return;
  const TImage* image = settings_.background.get();
  if (!image) {
    preview_->SetBackground(nullptr);
    return;
  }
  // The preview copies the pixels; it never writes through the pointer.
  TPictorD3D9PreviewImage record(image->Width, image->Height, image->Width * 4,
                                 const_cast<unsigned char*>(image->Pixels.data()), true);
  preview_->SetBackground(&record);
}

void TCameraSession::SetKeying(TKeyChoice keying, unsigned int keyColor)
{
  const bool restart = keying == TKeyChoice::Off && settings_.keying != TKeyChoice::Off && preview_;
  const TKeyChoice previous = settings_.keying;
  settings_.keying = keying;
  settings_.keyColor = keyColor;
  if (restart) {
    DestroyPreview();
    Launch();
  } else {
    ApplyKeyingMode(previous);
    ApplyKeying();
  }
}

void TCameraSession::SetSensitivity(float value)
{
  settings_.sensitivity = value;
  ApplyKeying();
}

void TCameraSession::SetSmoothing(float value)
{
  settings_.smoothing = value;
  ApplyKeying();
}

void TCameraSession::SetOpacity(int value)
{
  settings_.opacity = value;
  ApplyKeying();
}

void TCameraSession::SetSpill(float value)
{
  settings_.spill = value;
  if (preview_) preview_->SetSpillSuppression(value);
}

void TCameraSession::SetChoke(int value)
{
  settings_.choke = value;
  if (preview_) preview_->SetEdgeChoke(static_cast<unsigned int>(value));
}

void TCameraSession::SetBackground(std::shared_ptr<const TImage> background)
{
  settings_.background = std::move(background);
  ApplyBackground();
}

bool TCameraSession::SampleKeyColor(unsigned int* color)
{
  return preview_ && preview_->SampleKeyColor(color);
}

void TCameraSession::Tick()
{
  const ULONGLONG now = GetTickCount64();
  switch (state_) {
    case TSessionState::Starting:
    case TSessionState::Running: {
      const unsigned long long delivered = mailbox_.Delivered();
      if (delivered != lastDelivered_) {
        lastDelivered_ = delivered;
        lastFrameTick_ = now;
        state_ = TSessionState::Running;
        reason_.clear();
      } else if (now - lastFrameTick_ > (state_ == TSessionState::Starting ? kFirstFrameLimitMs : kStallLimitMs)) {
        reason_ = state_ == TSessionState::Starting ? L"The camera sends no pictures."
                                                    : L"The camera stopped sending pictures.";
        DestroyPreview();
        CheckCamera();
      }
      break;
    }
    case TSessionState::Reconnecting:
      if (check_) {
        const TPictorCaptureStatus status = check_->GetCaptureStatus();
        if (status.FramesDelivered > 0) {
          check_.reset();
          Launch();
        } else if (status.State == PICTOR_CAPTURE_ENDED) {
          FinishCheck(Widen(PictorDescribeResult(status.Error)));
        } else if (now - checkStart_ > kCheckLimitMs) {
          FinishCheck(L"The camera sends no pictures.");
        }
      } else if (now >= retryAt_) {
        CheckCamera();
      }
      break;
    default:
      break;
  }
}

void TCameraSession::CamerasChanged(bool present)
{
  if (!present && (state_ == TSessionState::Starting || state_ == TSessionState::Running)) {
    DestroyPreview();
    CheckCamera();
  } else if (present && state_ == TSessionState::Reconnecting && !check_) {
    CheckCamera();
  }
}

void TCameraSession::CheckCamera()
{
  check_.reset(new TPictor);
  check_->SetConversion(settings_.builtInConversion ? pcBuiltIn : pcSystemConverter);
  state_ = TSessionState::Reconnecting;
  checkStart_ = GetTickCount64();
  if (!check_->StartCapture(settings_.link.c_str(), settings_.formatIndex, true, IgnoreFrame, nullptr)) {
    const TPictorCaptureStatus status = check_->GetCaptureStatus();
    FinishCheck(status.State == PICTOR_CAPTURE_ENDED ? Widen(PictorDescribeResult(status.Error))
                                                     : L"The camera could not be started.");
  }
}

void TCameraSession::FinishCheck(const std::wstring& reason)
{
  check_.reset();
  Wait(reason);
}

void TCameraSession::Wait(const std::wstring& reason)
{
  reason_ = reason;
  state_ = reconnect_ ? TSessionState::Reconnecting : TSessionState::Ended;
  retryAt_ = GetTickCount64() + kRetryMs;
}
