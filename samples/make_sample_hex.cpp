// make-sample-hex FILE: writes the sample image as Intel HEX with the program's own writer.

#include <iostream>

#include "core/services.h"
#include "core/shared_state.h"
#include "image/hex_writer.h"
#include "image/program_memory.h"
#include "samples/sample_image.h"

namespace {

// Answers the writer's save dialog with the file named on the command line.
class SaveTo final : public koru::QuietWindowServices {
  public:
    explicit SaveTo(std::string path) : m_path(std::move(path)) {}
    void SetStatusLine(const std::string& text) override { m_status = text; }
    std::optional<std::string> ShowFileDialog(koru::FileDialogKind, const std::string&) override {
        return m_path;
    }
    const std::string& Status() const { return m_status; }

  private:
    std::string m_path;
    std::string m_status;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make-sample-hex FILE\n";
        return 2;
    }
    SaveTo window(argv[1]);
    koru::InstallWindowServices(&window);
    koru::ResetProgramMemoryState();
    for (std::uint32_t address = 0; address <= koru::sample::kSampleEnd; ++address) {
        koru::ProgramMemory[address] = koru::sample::SampleByte(address);
    }
    koru::StartAddress = 0;
    koru::EndAddress = koru::sample::kSampleEnd;
    koru::SaveImageAsHex();
    koru::InstallWindowServices(nullptr);
    if (koru::FailureFlag != 0) {
        std::cerr << "make-sample-hex: " << window.Status() << "\n";
        return 1;
    }
    return 0;
}
