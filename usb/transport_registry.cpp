// Which transports the platform looks at, in which order.
#include "usb/null_transport.h"
#include "usb/transport.h"
#include "usb/vbus/client.h"
#include "wire/vbus_protocol.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unistd.h>

namespace corvane::usb {

#if defined(CORVANE_WITH_LIBUSB)
std::unique_ptr<Transport> make_libusb_transport();
#endif

namespace {

struct Registry {
    std::mutex lock;
    bool built = false;
    std::unique_ptr<Transport> real; // libusb, or the null transport in its place
    std::unique_ptr<Transport> test; // a unit test's in-process bus
    std::unique_ptr<Transport> virtual_bus;
};

Registry &registry()
{
    static Registry instance;
    return instance;
}

bool real_usb_wanted()
{
    const char *setting = std::getenv("CORVANE_USB");
    return !(setting && std::strcmp(setting, "off") == 0);
}

void build(Registry &r)
{
    if (r.built)
        return;
#if defined(CORVANE_WITH_LIBUSB)
    r.real = real_usb_wanted() ? make_libusb_transport() : make_null_transport("usb");
#else
    (void)real_usb_wanted;
    r.real = make_null_transport("usb");
#endif
    r.virtual_bus = make_vbus_client(virtual_bus_address());
    r.built = true;
}

} // namespace

std::vector<Transport *> transports()
{
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    build(r);
    std::vector<Transport *> all{r.real.get()};
    if (r.test)
        all.push_back(r.test.get());
    all.push_back(r.virtual_bus.get());
    return all;
}

void set_test_transport(std::unique_ptr<Transport> transport)
{
    Registry &r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.test = std::move(transport);
}

} // namespace corvane::usb
