// spec_peer: a peer that speaks the block protocol exactly as the original
// program does, for interoperability tests and benchmarks. It shares no code
// with Velotrax: its own stuffing, checksum and gathering, no silence rule,
// no repeat rule, the answer allowance of ten per run.
//
//   spec_peer receive --port PATH --dir DIR [--swallow-header-answers]
//                     [--duplicate-answer-at K] [--once]
//   spec_peer send --port PATH [--ok-lost-at K] [--deadline-s S] FILE...
//
// Exit status: 0 done, 4..14 the numbered error that ended the run (either
// side), 3 the other side pressed Stop, 2 bad usage, 1 failure, 124 deadline.
// At the end it prints "STATS accepted=N rejected=N served=N".
#include "spec_peer_line.h"

namespace {

// ---------------------------------------------------------------- Receiver
struct Receiver {
    Line line;
    Gatherer g;
    Stats stats;
    std::string dir;
    bool swallowHeaders = false;  // the first answer to each header ("END" too) is lost
    int duplicateAt = 0;
    bool once = false;

    std::int32_t last = 0, expecting = kHeader, nData = 0, resends = 0;
    Bytes lastAnswer;
    std::FILE* temp = nullptr;
    std::string name, tempPath;
    long long size = 0, pos = 1;
    Bytes duplicate;

    void Send(int code, std::int32_t value, bool accepted)
    {
        lastAnswer = Answer(code, value);
        if (accepted && duplicateAt > 0 && g.buf.size() >= 6 && Get32(&g.buf[2]) == duplicateAt + 1 && !duplicate.empty())
            line.Write(duplicate);  // the answer to the block before, delivered late
        if (accepted && duplicateAt > 0 && code == kOk && Get32(&g.buf[2]) == duplicateAt)
            duplicate = lastAnswer;
        if (accepted && swallowHeaders && g.buf[1] == kHeader)
            return;
        line.Write(lastAnswer);
    }
    void Reject()
    {
        ++stats.rejected;
        usleep(10000);
        line.Discard();
        Send(kNotOk, last, false);
    }
    void AnswerOk(std::int32_t seq)
    {
        ++stats.accepted;
        Send(kOk, last, true);
        last = seq;
    }
    int Run()
    {
        for (;;) {
            Bytes chunk;
            line.Read(chunk);
            if (!g.Feed(chunk))
                continue;
            const int r = Handle();
            g.Reset();
            if (r >= 0)
                return r;
        }
    }
    // -1: go on; otherwise the exit status.
    int Handle()
    {
        const Bytes& b = g.buf;
        if (b[0] != 'H' && b[0] != 'A') {
            Reject();
            return -1;
        }
        const int type = b[1];
        const std::int32_t seqA = Get32(&b[2]);
        const std::int32_t seqB = Get32(&b[g.expected - 4]);
        if (type == kError)
            return Get32(&b[2]);
        if (b[0] == 'A' && type == kStop)
            return 3;
        if (b[0] == 'H')
            nData = std::int16_t(b[6] | b[7] << 8);
        if (nData < 0) {  // only noise makes a negative length
            Reject();
            return -1;
        }
        if (nData <= 0) {
            if (expecting != kData) {
                Reject();
                return -1;
            }
        } else if (type == expecting) {
            if (seqA != seqB || seqA != last + 1) {
                Reject();
                return -1;
            }
        } else if (type == kResendAnswer) {
            if (++resends > 10) {
                line.Write(Answer(kError, 10));
                return 10;
            }
            ++stats.served;
            line.Write(lastAnswer);
            return -1;
        } else if (type == kRestartHeader && expecting == kHeader) {
        } else {
            Reject();
            return -1;
        }
        std::int32_t sum = 0;
        for (int i = 0; i < nData; ++i)
            sum += b[12 + size_t(i)];
        if (b[0] != 'H' || sum != Get32(&b[8])) {
            Reject();
            return -1;
        }
        return type == kData ? DataBlock(seqA) : HeaderBlock(type, seqA);
    }
    int HeaderBlock(int type, std::int32_t seq)
    {
        const std::string text(g.buf.begin() + 12, g.buf.begin() + 12 + nData);
        std::vector<std::string> f;
        size_t from = 0;
        while (f.size() < 10) {
            const size_t bar = text.find('|', from);
            f.push_back(text.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
            if (bar == std::string::npos)
                break;
            from = bar + 1;
        }
        f.resize(3);
        if (f[2].empty()) {
            if (f[0] != "END" || !f[1].empty()) {
                Reject();
                return -1;
            }
            ++stats.accepted;
            Send(kAllReceived, last, true);
            last = 0, expecting = kHeader, nData = 0, resends = 0;
            return once ? 0 : -1;
        }
        name = f[2];
        size = std::atoll(f[0].c_str());
        tempPath = dir + "/_" + name + ".tmp";
        if (type == kRestartHeader) {
            temp = std::fopen(tempPath.c_str(), "r+b");
            if (!temp) {
                line.Write(Answer(kError, 12));
                return 12;
            }
            std::fseek(temp, 0, SEEK_END);
            pos = std::ftell(temp) + 1;
            expecting = kData;
            last = seq;
            ++stats.accepted;
            Send(kRestartPos, std::int32_t(pos), true);
            return -1;
        }
        temp = std::fopen(tempPath.c_str(), "wb");
        if (!temp) {
            line.Write(Answer(kError, 7));
            return 7;
        }
        pos = 1;
        expecting = kData;
        AnswerOk(seq);
        return -1;
    }
    int DataBlock(std::int32_t seq)
    {
        if (nData == 0) {
            std::fclose(temp);
            temp = nullptr;
            if (pos != size + 1) {
                line.Write(Answer(kError, 9));
                return 9;
            }
            std::rename(tempPath.c_str(), (dir + "/" + name).c_str());
            expecting = kHeader;
            AnswerOk(seq);
            return -1;
        }
        std::fwrite(&g.buf[12], 1, size_t(nData), temp);
        std::fflush(temp);
        pos += nData;
        AnswerOk(seq);
        return -1;
    }
};

// ------------------------------------------------------------------ Sender
struct Sender {
    Line line;
    Gatherer g;
    Stats stats;
    std::vector<std::string> files;
    int okLostAt = 0;
    std::int32_t seq = 0;
    Bytes lastBlock;
    int resends = 0;

    void Block(int type, const Bytes& payload)
    {
        Bytes b{'H', std::uint8_t(type)};
        Put32(b, ++seq);
        b.push_back(std::uint8_t(payload.size()));
        b.push_back(std::uint8_t(payload.size() >> 8));
        std::int32_t sum = 0;
        for (std::uint8_t c : payload)
            sum += c;
        Put32(b, sum);
        b.insert(b.end(), payload.begin(), payload.end());
        Put32(b, seq);
        lastBlock = b;
        line.Write(b);
    }
    // Waits for an answer; returns its code (0 at the deadline).
    int Await()
    {
        for (;;) {
            Bytes chunk;
            if (!line.Read(chunk))
                return 0;
            if (!g.Feed(chunk))
                continue;
            const Bytes b = g.buf;
            g.Reset();
            if (b[0] != 'H' && b[0] != 'A') {
                usleep(10000);
                line.Discard();
                line.Write(Answer(kResendAnswer, 0));
                continue;
            }
            const int code = b[1];
            if (code == kError)
                return -Get32(&b[2]);
            if (code == kOk && okLostAt == seq) {
                okLostAt = 0;  // taken for NOT OK, as if damaged on the way
                ++stats.rejected;
                line.Write(lastBlock);
                continue;
            }
            if (code == kNotOk || code == kResendBlock) {
                if (++resends > 10) {
                    line.Write(Answer(kError, 10));
                    return -10;
                }
                line.Write(lastBlock);
                continue;
            }
            resends = 0;
            return code;
        }
    }
    int Step(int type, const Bytes& payload, int wanted)
    {
        Block(type, payload);
        const int code = Await();
        if (code == 0)
            return 124;
        if (code < 0)
            return -code;
        if (code != wanted)
            return code == kStop ? 3 : 1;
        ++stats.accepted;
        return -1;
    }
    int Run()
    {
        for (const std::string& path : files) {
            std::FILE* f = std::fopen(path.c_str(), "rb");
            if (!f)
                return 6;
            struct stat st{};
            ::stat(path.c_str(), &st);
            char when[32];
            std::tm local{};
            localtime_r(&st.st_mtime, &local);
            std::strftime(when, sizeof when, "%Y%m%d%H%M%S", &local);
            const std::string base = path.substr(path.rfind('/') + 1);
            const std::string text = std::to_string(st.st_size) + "|" + when + "|" + base;
            int r = Step(kHeader, Bytes(text.begin(), text.end()), kOk);
            for (Bytes chunk(2560); r < 0;) {
                const size_t n = std::fread(chunk.data(), 1, chunk.size(), f);
                r = Step(kData, Bytes(chunk.begin(), chunk.begin() + long(n)), kOk);
                if (n == 0)
                    break;
            }
            std::fclose(f);
            if (r >= 0)
                return r;
        }
        const int r = Step(kHeader, Bytes{'E', 'N', 'D'}, kAllReceived);
        return r < 0 ? 0 : r;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Fail("usage: spec_peer receive|send --port PATH ...");
    const std::string mode = argv[1];
    std::string port, dir;
    std::vector<std::string> files;
    int swallow = 0, duplicateAt = 0, okLostAt = 0, deadline = 0, once = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--port")
            port = value();
        else if (a == "--dir")
            dir = value();
        else if (a == "--swallow-header-answers")
            swallow = 1;
        else if (a == "--once")
            once = 1;
        else if (a == "--duplicate-answer-at")
            duplicateAt = std::atoi(value().c_str());
        else if (a == "--ok-lost-at")
            okLostAt = std::atoi(value().c_str());
        else if (a == "--deadline-s")
            deadline = std::atoi(value().c_str());
        else if (a.rfind("--", 0) == 0)
            return Fail(("unknown option " + a).c_str());
        else
            files.push_back(a);
    }
    if (port.empty())
        return Fail("--port is needed");
    setvbuf(stdout, nullptr, _IOLBF, 0);
    int status = 1;
    if (mode == "receive") {
        Receiver r;
        if (!r.line.Open(port))
            return Fail("cannot open the port");
        r.dir = dir;
        r.swallowHeaders = swallow;
        r.duplicateAt = duplicateAt;
        r.once = once;
        std::printf("LISTENING\n");
        status = r.Run();
        r.stats.Print();
    } else if (mode == "send") {
        Sender s;
        if (!s.line.Open(port))
            return Fail("cannot open the port");
        s.g.receiver = false;
        s.files = files;
        s.okLostAt = okLostAt;
        s.line.deadline = std::chrono::seconds(deadline > 0 ? deadline : 60);
        status = s.Run();
        s.stats.Print();
    } else {
        return Fail("the mode is receive or send");
    }
    return status;
}
