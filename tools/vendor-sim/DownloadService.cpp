#include "DownloadService.h"

#include <map>
#include <mutex>
#include <optional>
#include <string_view>

#include "BodyStream.h"
#include "ByteRange.h"
#include "DownloadFixture.h"

namespace vsim {
namespace {

Reply textReply(int status, std::string body) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

bool is(const Fault* fault, FaultMode mode) {
    return fault && fault->mode == mode;
}

// An answer that is only the fault's status, or null when the fault is not one.
std::optional<Reply> errorOf(const Fault* fault) {
    if (!is(fault, FaultMode::HttpError))
        return std::nullopt;
    return textReply(fault->status, "simulated failure (fault http-error)\n");
}

std::optional<std::string_view> rangeHeaderOf(const httplib::Request& request) {
    auto it = request.headers.find("Range");
    if (it == request.headers.end())
        return std::nullopt;
    return std::string_view(it->second);
}

class DownloadService : public Service {
public:
    DownloadService(const StopSignal& stop, RateCap* cap) : m_stop(stop), m_cap(cap) {}

    std::string name() const override { return "download"; }

    std::string validate(const Json::Value& section) const override {
        DownloadSection parsed;
        std::string problem = parseDownloadSection(section, parsed);
        if (!problem.empty())
            return problem;
        // A missing source is a typo far more often than a vanished file, and a test that
        // wants the latter can still remove the file after the load.
        for (const auto& [key, file] : parsed.files) {
            std::string error;
            if (!SourceFile::open(file.source, error))
                return "files \"" + key + "\": \"source\": " + error;
        }
        return {};
    }

    Reply handle(const Exchange& exchange, const Json::Value& section) override {
        const bool head = exchange.method == "HEAD";
        if (!head && exchange.method != "GET") {
            Reply reply = textReply(405, "the download service takes GET and HEAD\n");
            reply.headers.emplace_back("Allow", "GET, HEAD");
            return reply;
        }
        DownloadSection parsed;
        std::string problem = parseDownloadSection(section, parsed);
        if (!problem.empty())
            return textReply(500, "download section: " + problem + "\n");

        // The entry of this host first, then the one every download host shares.
        for (const std::string& key : {exchange.host + exchange.path, exchange.path}) {
            if (auto it = parsed.redirects.find(key); it != parsed.redirects.end()) {
                const RedirectEntry& entry = it->second;
                uint64_t number = nextRequestNumber(exchange.fixtureGeneration, key, head);
                return answerRedirect(entry, firstFault(entry.faults, head, number));
            }
            if (auto it = parsed.pages.find(key); it != parsed.pages.end()) {
                const PageEntry& entry = it->second;
                uint64_t number = nextRequestNumber(exchange.fixtureGeneration, key, head);
                return answerPage(entry, firstFault(entry.faults, head, number));
            }
            if (auto it = parsed.files.find(key); it != parsed.files.end()) {
                const FileEntry& entry = it->second;
                uint64_t number = nextRequestNumber(exchange.fixtureGeneration, key, head);
                return answerFile(exchange, entry, firstFault(entry.faults, head, number));
            }
        }
        return textReply(404,
                         "no file, redirect or page for " + exchange.host + exchange.path + "\n");
    }

private:
    struct Counts {
        uint64_t gets = 0;
        uint64_t heads = 0;
    };

    uint64_t nextRequestNumber(uint64_t generation, const std::string& key, bool head) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (generation > m_generation) {
            m_generation = generation;
            m_counts.clear();
        }
        Counts& counts = m_counts[key];
        return head ? ++counts.heads : ++counts.gets;
    }

    static Reply answerRedirect(const RedirectEntry& entry, const Fault* fault) {
        Reply reply;
        if (std::optional<Reply> failure = errorOf(fault)) {
            reply = *failure;
        } else {
            reply = textReply(entry.status, "see " + entry.location + "\n");
            reply.headers.emplace_back("Location", entry.location);
        }
        reply.lowercaseHeaderNames = is(fault, FaultMode::LowercaseHeaders);
        return reply;
    }

    static Reply answerPage(const PageEntry& entry, const Fault* fault) {
        Reply reply;
        if (std::optional<Reply> failure = errorOf(fault)) {
            reply = *failure;
        } else {
            reply = textReply(entry.status, entry.body);
            reply.contentType = entry.contentType;
        }
        reply.lowercaseHeaderNames = is(fault, FaultMode::LowercaseHeaders);
        return reply;
    }

    Reply answerFile(const Exchange& exchange, const FileEntry& entry, const Fault* fault) const {
        if (std::optional<Reply> failure = errorOf(fault))
            return *failure;
        std::string error;
        std::shared_ptr<const SourceFile> file = SourceFile::open(entry.source, error);
        if (!file)
            return textReply(404, "the source of " + exchange.path + " is gone: " + error + "\n");

        const uint64_t total = file->size();
        Reply reply;
        reply.lowercaseHeaderNames = is(fault, FaultMode::LowercaseHeaders);
        reply.contentType = "application/octet-stream";
        reply.headers = {
            {"Accept-Ranges", "bytes"},
            {"ETag", entry.etag.value_or(fileEtag(file->mtime(), total))},
            {"Last-Modified", entry.lastModified.value_or(httpDate(file->mtime()))},
        };
        if (entry.cacheStatus)
            reply.headers.emplace_back("CF-Cache-Status", *entry.cacheStatus);
        if (entry.ray)
            reply.headers.emplace_back("CF-RAY", *entry.ray);

        if (exchange.method == "HEAD") {
            uint64_t length = is(fault, FaultMode::Length) ? fault->length : total;
            reply.headers.emplace_back("Content-Length", std::to_string(length));
            if (is(fault, FaultMode::Stall))
                reply.delayMs = fault->stallMs;
            return reply;
        }

        RangeAnswer range = is(fault, FaultMode::IgnoreRange)
                                ? RangeAnswer{}
                                : answerRange(rangeHeaderOf(exchange.request), total);
        if (range.kind == RangeAnswer::Kind::Unsatisfiable) {
            reply.status = 416;
            reply.contentType = "text/plain";
            reply.headers.emplace_back("Content-Range", "bytes */" + std::to_string(total));
            reply.body = range.problem + "\n";
            return reply;
        }
        BodyPlan plan;
        plan.length = total;
        if (range.kind == RangeAnswer::Kind::Partial) {
            std::optional<uint64_t> announced = total;
            if (is(fault, FaultMode::WrongTotal))
                announced = fault->total.value_or(total + 1);
            if (is(fault, FaultMode::NoSlash))
                announced.reset();
            reply.status = 206;
            reply.headers.emplace_back("Content-Range",
                                       contentRange(range.first, range.last, announced));
            plan.offset = range.first;
            plan.length = range.last - range.first + 1;
        }
        reply.headers.emplace_back("Content-Length", std::to_string(plan.length));
        if (is(fault, FaultMode::Reset) || is(fault, FaultMode::Stall)) {
            plan.breakAfter = fault->afterBytes.value_or(plan.length / 2);
            plan.pauseMs = is(fault, FaultMode::Stall) ? fault->stallMs : 0;
            plan.closeAtBreak = is(fault, FaultMode::Reset) || fault->closeAfterStall;
        }
        if (is(fault, FaultMode::Slow))
            plan.bytesPerSecond = fault->bytesPerSecond;
        plan.cap = m_cap;
        const StopSignal& stop = m_stop;
        reply.fill = [file, plan, &stop](httplib::Response& response) {
            streamBody(response, file, plan, stop);
        };
        return reply;
    }

    const StopSignal& m_stop;
    RateCap* const m_cap;
    std::mutex m_mutex;
    uint64_t m_generation = 0;
    std::map<std::string, Counts> m_counts;  // per entry key, since fixture `m_generation`
};

}  // namespace

std::unique_ptr<Service> makeDownloadService(const StopSignal& stop, RateCap* cap) {
    return std::make_unique<DownloadService>(stop, cap);
}

}  // namespace vsim
