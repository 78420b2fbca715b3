#include "support/tag_tools.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/mpeg_tools.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace snip::test {

#ifdef _WIN32

bool HaveMutagen() { return false; }
bool RunPython(const std::string&, const std::vector<std::string>&) { return false; }
JudgedTags ReadTagsWithMutagen(const std::string&) { return {}; }
std::string Sha1Hex(const std::vector<unsigned char>&) { return {}; }

#else

namespace {

constexpr const char* kPython = "/usr/bin/python3";

const char kReadScript[] = R"PY(
import sys, hashlib
from mutagen.id3 import ID3, ID3NoHeaderError
from mutagen.id3._id3v1 import ParseID3v1
path = sys.argv[1]
out = []
def clean(s):
    return str(s).replace('\\', '\\\\').replace('\t', '\\t').replace('\n', '\\n')
try:
    tags = ID3(path, translate=False, load_v1=False)
    out.append('version\t%d' % tags.version[1])
    for frame in tags.values():
        if frame.FrameID == 'APIC':
            out.append('APIC\t%s\t%d\t%s\t%d\t%s' % (clean(frame.mime), frame.type, clean(frame.desc),
                       int(frame.encoding), hashlib.sha1(frame.data).hexdigest()))
        elif frame.FrameID.startswith('T') and hasattr(frame, 'text'):
            out.append('T\t%s\t%d\t%s' % (frame.FrameID, int(frame.encoding), clean(frame.text[0] if frame.text else '')))
except ID3NoHeaderError:
    out.append('version\t0')
with open(path, 'rb') as f:
    f.seek(0, 2)
    if f.tell() >= 128:
        f.seek(-128, 2)
        v1 = ParseID3v1(f.read(128))
        if v1:
            for key, frame in v1.items():
                out.append('V1\t%s\t%s' % (key, clean(frame.text[0] if hasattr(frame, 'text') and frame.text else '')))
sys.stdout.buffer.write(('\n'.join(out) + '\n').encode('utf-8'))
)PY";

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\t') {
      parts.push_back(part);
      part.clear();
    } else if (line[i] == '\\' && i + 1 < line.size()) {
      char next = line[++i];
      part += next == 't' ? '\t' : next == 'n' ? '\n' : next;
    } else {
      part += line[i];
    }
  }
  parts.push_back(part);
  return parts;
}

std::string ScriptFile(const std::string& script) {
  static int counter = 0;
  std::string path = (std::filesystem::temp_directory_path() /
                      ("snip-tags-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".py"))
                         .string();
  std::ofstream(path, std::ios::binary) << script;
  return path;
}

}  // namespace

bool HaveMutagen() {
  return std::system((std::string(kPython) + " -c 'import mutagen' >/dev/null 2>&1").c_str()) == 0;
}

bool RunPython(const std::string& script, const std::vector<std::string>& args) {
  std::string file = ScriptFile(script);
  std::string command = std::string(kPython) + " " + Quoted(file);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  int status = std::system(command.c_str());
  std::filesystem::remove(file);
  return status == 0;
}

JudgedTags ReadTagsWithMutagen(const std::string& path) {
  JudgedTags tags;
  std::string file = ScriptFile(kReadScript);
  std::string command = std::string(kPython) + " " + Quoted(file) + " " + Quoted(path);
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return tags;
  std::string output;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
  int status = ::pclose(pipe);
  std::filesystem::remove(file);
  if (status != 0) return tags;
  tags.ran = true;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> p = SplitTabs(line);
    if (p[0] == "version" && p.size() == 2) {
      tags.version = std::atoi(p[1].c_str());
    } else if (p[0] == "T" && p.size() == 4) {
      tags.text[p[1]] = p[3];
      tags.encoding[p[1]] = std::atoi(p[2].c_str());
    } else if (p[0] == "APIC" && p.size() == 6) {
      tags.pictures.push_back({p[1], std::atoi(p[2].c_str()), p[3], std::atoi(p[4].c_str()), p[5]});
    } else if (p[0] == "V1" && p.size() == 3) {
      tags.v1[p[1]] = p[2];
    }
  }
  return tags;
}

std::string Sha1Hex(const std::vector<unsigned char>& bytes) {
  std::string file = (std::filesystem::temp_directory_path() / ("snip-sha-" + std::to_string(::getpid()))).string();
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  std::string script = "import sys, hashlib\nprint(hashlib.sha1(open(sys.argv[1], 'rb').read()).hexdigest())\n";
  std::string scriptFile = ScriptFile(script);
  FILE* pipe = ::popen((std::string(kPython) + " " + Quoted(scriptFile) + " " + Quoted(file)).c_str(), "r");
  std::string out;
  if (pipe) {
    char chunk[128];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, got);
    ::pclose(pipe);
  }
  std::filesystem::remove(file);
  std::filesystem::remove(scriptFile);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

#endif

}  // namespace snip::test
