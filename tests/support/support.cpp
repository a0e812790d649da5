#include "support/support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kavet::test {

Water waterPointingAt(Vec3 o, Vec3 toward1, Vec3 toward2)
{
    auto along = [&](Vec3 t) {
        Vec3 d = t - o;
        float len = norm(d);
        return o + d * (0.96f / len);
    };
    return {o, along(toward1), along(toward2)};
}

Frame atomsFromWaters(const std::vector<Water>& waters, Box box)
{
    Frame t;
    for (const Water& w : waters) {
        const Vec3 p[3] = {w.o, w.h1, w.h2};
        const char* names[3] = {"OW", "HW1", "HW2"};
        for (int k = 0; k < 3; ++k) {
            t.editTopology().residue.push_back("1SOL");
            t.editTopology().atomName.push_back(names[k]);
            t.positions.push_back(p[k]);
            t.editTopology().isWaterOxygen.push_back(k == 0 ? 1 : 0);
        }
    }
    t.editTopology().atomCount = static_cast<int32_t>(t.positions.size());
    t.editTopology().waterCount = static_cast<int32_t>(waters.size());
    t.box = box;
    indexWaters(t.editTopology());
    return t;
}

Network networkFromBonds(int32_t atomCount, const std::vector<std::pair<int32_t, int32_t>>& bonds)
{
    Network net;
    std::vector<std::vector<int32_t>> adj(atomCount);
    for (auto [a, b] : bonds) {
        net.edgeList.push_back(std::min(a, b));
        net.edgeList.push_back(std::max(a, b));
        adj[a].push_back(b);
        adj[b].push_back(a);
    }
    for (auto& list : adj) {
        std::sort(list.begin(), list.end());
        net.degree.push_back(static_cast<int32_t>(list.size()));
        net.adj.append(list);
    }
    return net;
}

std::string groFromWaters(const std::vector<Water>& waters, Box box, const std::string& title)
{
    std::string s = title + "\n" + std::to_string(3 * waters.size()) + "\n";
    char line[128];
    int atom = 0;
    for (std::size_t i = 0; i < waters.size(); ++i) {
        const Vec3 p[3] = {waters[i].o, waters[i].h1, waters[i].h2};
        const char* names[3] = {"OW", "HW1", "HW2"};
        for (int k = 0; k < 3; ++k) {
            ++atom;
            std::snprintf(line, sizeof line, "%5d%-5s%5s%5d%8.3f%8.3f%8.3f\n", static_cast<int>(i + 1) % 100000,
                          "SOL", names[k], atom % 100000, p[k].x / 10.0, p[k].y / 10.0, p[k].z / 10.0);
            s += line;
        }
    }
    std::snprintf(line, sizeof line, "%10.5f%10.5f%10.5f\n", box.x / 10.0, box.y / 10.0, box.z / 10.0);
    return s + line;
}

namespace {

std::string quote(const std::string& s)
{
    // Single quotes for the shell; an embedded quote becomes '\''.
    std::vector<char> q{'\''};
    for (char c : s) {
        if (c == '\'') {
            for (char e : {'\'', '\\', '\'', '\''})
                q.push_back(e);
        } else {
            q.push_back(c);
        }
    }
    q.push_back('\'');
    return std::string(q.begin(), q.end());
}

} // namespace

RunResult runKavetBinary(const std::vector<std::string>& args, const std::string& dir)
{
    const std::string errPath = dir + "/.stderr";
    std::string cmd("cd ");
    cmd.append(quote(dir)).append(" && ").append(quote(KAVET_BINARY));
    for (const auto& a : args)
        cmd.append(" ").append(quote(a));
    cmd.append(" 2>").append(quote(errPath));
    RunResult r;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        throw std::runtime_error("cannot run " + cmd);
    char buf[65536];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, got);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = readFile(errPath);
    std::filesystem::remove(errPath);
    return r;
}

int startKavet(const std::string& dir, std::vector<std::string> args, int resource, long long limit)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        const int out = open(".out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        if (limit > 0) {
            const rlimit r{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
            setrlimit(resource, &r);
        }
        args.insert(args.begin(), KAVET_BINARY);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(KAVET_BINARY, argv.data());
        _exit(127);
    }
    return pid;
}

int finishKavet(int pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string freshDirectory(const std::string& tag)
{
    static int counter = 0;
    std::filesystem::path base = std::filesystem::temp_directory_path() /
                                 ("kavet-test-" + std::to_string(getpid()) + "-" + tag + "-" +
                                  std::to_string(counter++));
    std::filesystem::remove_all(base);
    std::filesystem::create_directories(base);
    return base.string();
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool fileExists(const std::string& path)
{
    return std::filesystem::exists(path);
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string maskTimes(const std::string& report)
{
    const std::string key = "Time(s): ";
    std::string out;
    std::size_t pos = 0;
    for (;;) {
        std::size_t at = report.find(key, pos);
        if (at == std::string::npos)
            break;
        at += key.size();
        out.append(report, pos, at - pos).append("T");
        pos = report.find_first_not_of("-+0123456789.eE", at);
        if (pos == std::string::npos)
            pos = report.size();
    }
    return out.append(report, pos, std::string::npos);
}

std::string sourcePath(const std::string& relative)
{
    return std::string(KAVET_SOURCE_DIR) + "/" + relative;
}

std::string latticeGro(const std::vector<std::string>& toolArgs)
{
    std::string cmd("python3 ");
    cmd.append(quote(sourcePath("tools/lattice.py")));
    for (const auto& a : toolArgs)
        cmd.append(" ").append(quote(a));
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        throw std::runtime_error("cannot run " + cmd);
    std::string text;
    char buf[65536];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, got);
    if (pclose(p) != 0)
        throw std::runtime_error("lattice tool failed: " + cmd);
    return text;
}

} // namespace kavet::test
