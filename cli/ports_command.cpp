// `ports`: every serial port and what it is right now.
#include "cli/commands.h"

#include "comm/port_state.h"

namespace cli {

int portsCommand(Run& run, const std::vector<std::string>& args) {
    std::string error;
    const auto parsed = parseArgs(args, {}, &error);
    if (!parsed) {
        return usage(run, error);
    }
    if (!parsed->positional.empty()) {
        return usage(run, "лишний аргумент «" + parsed->positional[0] + "»");
    }
    const std::vector<PortStatus> ports = describePorts();
    if (run.json) {
        JsonWriter doc;
        doc.beginObject().field("command", run.command).key("ports").beginArray();
        for (const PortStatus& p : ports) {
            doc.beginObject().field("name", p.name).field("path", p.path);
            doc.field("state", accessKey(p.access)).field("stateText", accessText(p.access));
            if (!p.holder.empty()) {
                doc.field("holder", p.holder);
            }
            if (!p.fix.empty()) {
                doc.field("fix", p.fix);
            }
            doc.key("byId").beginArray();
            for (const std::string& id : p.byIds) {
                doc.value(id);
            }
            doc.endArray().endObject();
        }
        doc.endArray().endObject();
        printJson(doc);
        return kSuccess;
    }
    if (ports.empty()) {
        say(run, "Последовательные порты не найдены");
    }
    for (const PortStatus& p : ports) {
        std::string line = p.path + ": " + accessText(p.access);
        if (p.access == PortAccess::Busy) {
            line += p.holder.empty() ? " другой программой" : " программой " + p.holder;
        }
        say(run, line);
        if (!p.fix.empty()) {
            say(run, "    " + p.fix);
        }
        for (const std::string& id : p.byIds) {
            say(run, "    " + id);
        }
    }
    return kSuccess;
}

} // namespace cli
