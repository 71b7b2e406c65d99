#include "ui/demo_box.h"

#include "context/upgrade_context.h"
#include "sim/box_sim.h"

namespace stb {

struct CDemoBox::Impl {
  std::unique_ptr<sim::BoxSimulator> box;
};

CDemoBox::CDemoBox() : impl_(std::make_unique<Impl>()) {}

CDemoBox::~CDemoBox() {
  Stop();
}

bool CDemoBox::Start(uint32_t protocolVersion, std::string& error) {
  sim::BoxOptions options;
  options.protocol = protocolVersion;
  options.baud = kDemoLineRate;
  impl_->box = std::make_unique<sim::BoxSimulator>(std::move(options));
  if (!impl_->box->Start()) {
    error = impl_->box->LastError();
    impl_->box.reset();
    return false;
  }
  // Whatever COM port the connect page names, the line leads to this box.
  GetSerialSettings().Device = impl_->box->SlavePath();
  return true;
}

void CDemoBox::Stop() {
  if (impl_->box) impl_->box->Stop();
  impl_->box.reset();
}

}  // namespace stb
