#include "usb/null_transport.h"

#include <string>

namespace corvane::usb {
namespace {

class NullTransport final : public Transport {
public:
    explicit NullTransport(std::string_view name) : name_(name) {}
    std::string_view name() const override { return name_; }
    Status list(std::vector<DeviceIdentity> &devices) override
    {
        devices.clear();
        return Status::ok;
    }
    Status open(const std::string &, unsigned, std::unique_ptr<Channel> &) override { return Status::not_supported; }

private:
    std::string name_;
};

} // namespace

std::unique_ptr<Transport> make_null_transport(std::string_view name)
{
    return std::make_unique<NullTransport>(name);
}

} // namespace corvane::usb
