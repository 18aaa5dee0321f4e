#include "emulator/CC.h"

namespace corvantix {

namespace {
std::string framed(std::string_view introducer, std::string_view body, std::string_view terminator)
{
    std::string reply;
    reply.reserve(introducer.size() + body.size() + terminator.size());
    reply.append(introducer);
    reply.append(body);
    reply.append(terminator);
    return reply;
}
} // namespace

std::string CC::csiReply(std::string_view body) const
{
    return framed(csi(), body, {});
}

std::string CC::oscReply(std::string_view body) const
{
    return framed(osc(), body, st());
}

std::string CC::dcsReply(std::string_view body) const
{
    return framed(dcs(), body, st());
}

std::string CC::apcReply(std::string_view body) const
{
    return framed(apc(), body, st());
}

} // namespace corvantix
