// Helper for the disk image benchmark.
//   DmgBench generate DIR          writes a ~200 MB tree of small and large files into DIR
//   DmgBench convert RAW OUT LEVEL [FORMAT]
//                                  converts a raw GUID partition map disk (one partition at sector 40)
//                                  into UDZO (or FORMAT: UDBZ, ULMO, UDRO) and prints the seconds taken
#include "udif/UdifWriter.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{
class CContentMaker
{
public:
    CContentMaker()
    {
        for (int i = 0; i < 800; ++i)
        {
            std::string word;
            int const length = 2 + static_cast<int>(m_random() % 9);
            for (int j = 0; j < length; ++j)
                word += static_cast<char>('a' + m_random() % 26);
            m_words.push_back(word);
        }
    }

    // Text such as logs and source code: common words, numbers, punctuation.
    std::string MakeText(size_t size)
    {
        std::string text;
        text.reserve(size + 128);
        while (text.size() < size)
        {
            int const words = 3 + static_cast<int>(m_random() % 12);
            text.append(m_random() % 4, ' ');
            for (int i = 0; i < words; ++i)
            {
                // A skewed choice, as in natural text: a few words are very common.
                size_t const pick =
                    (m_random() % m_words.size()) * (m_random() % m_words.size()) / m_words.size();
                text += m_words[pick];
                if (m_random() % 5 == 0)
                    text += "=" + std::to_string(m_random() % 100000);
                text += i + 1 < words ? " " : (m_random() % 3 ? ";\n" : ".\n");
            }
        }
        text.resize(size);
        return text;
    }

    // Structured binary data such as tables of numbers: compressible, but not like text.
    std::string MakeTable(size_t size)
    {
        std::string data(size, '\0');
        uint32_t value = 0;
        for (size_t i = 0; i + 8 <= size; i += 8)
        {
            value += m_random() % 256;
            std::memcpy(&data[i], &value, 4);
            uint32_t const flags = m_random() % 16;
            std::memcpy(&data[i + 4], &flags, 4);
        }
        return data;
    }

    std::string MakeRandom(size_t size)
    {
        std::string data(size, '\0');
        for (size_t i = 0; i + 4 <= size; i += 4)
        {
            uint32_t const value = m_random();
            std::memcpy(&data[i], &value, 4);
        }
        return data;
    }

    uint32_t Next() { return m_random(); }

private:
    std::mt19937 m_random{20240611};
    std::vector<std::string> m_words;
};

bool WriteFile(std::string const& path, std::string const& data)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
    {
        std::perror(path.c_str());
        return false;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), file) == data.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok)
        std::perror(path.c_str());
    return ok;
}

int Generate(std::string const& root)
{
    CContentMaker maker;
    uint64_t total = 0;
    auto Put = [&](std::string const& path, std::string const& data)
    {
        total += data.size();
        return WriteFile(root + "/" + path, data);
    };
    mkdir(root.c_str(), 0755);
    // Thousands of small files in a few levels of folders, as an application bundle has.
    for (int folder = 0; folder < 60; ++folder)
    {
        std::string const dir = "Resources/group" + std::to_string(folder);
        mkdir((root + "/Resources").c_str(), 0755);
        mkdir((root + "/" + dir).c_str(), 0755);
        for (int i = 0; i < 70; ++i)
        {
            size_t const size = 200 + maker.Next() % 16000;
            std::string const name = dir + "/file" + std::to_string(i);
            bool const ok = maker.Next() % 4 == 0 ? Put(name + ".bin", maker.MakeRandom(size))
                                                  : Put(name + ".txt", maker.MakeText(size));
            if (!ok)
                return 1;
        }
    }
    // Large files: compressible text and tables, and incompressible media.
    mkdir((root + "/Large").c_str(), 0755);
    for (int i = 0; i < 3; ++i)
        if (!Put("Large/log" + std::to_string(i) + ".txt", maker.MakeText(28u << 20)))
            return 1;
    if (!Put("Large/table.dat", maker.MakeTable(20u << 20)))
        return 1;
    for (int i = 0; i < 2; ++i)
        if (!Put("Large/movie" + std::to_string(i) + ".bin", maker.MakeRandom(24u << 20)))
            return 1;
    std::printf("%llu\n", static_cast<unsigned long long>(total));
    return 0;
}

int Convert(char const* raw, char const* out, int level, std::string const& formatName)
{
    EUdifFormat format = EUdifFormat::Udzo;
    if (formatName == "UDBZ")
        format = EUdifFormat::Udbz;
    else if (formatName == "ULMO")
        format = EUdifFormat::Ulmo;
    else if (formatName == "UDRO")
        format = EUdifFormat::Udro;
    else if (formatName != "UDZO")
    {
        std::fprintf(stderr, "DmgBench: unknown format %s\n", formatName.c_str());
        return 2;
    }
    struct stat info;
    if (stat(raw, &info) != 0)
    {
        std::perror(raw);
        return 1;
    }
    uint64_t const n = static_cast<uint64_t>(info.st_size) / 512;
    if (n < 200)
    {
        std::fprintf(stderr, "%s: too small for a partitioned disk\n", raw);
        return 1;
    }
    // The regions of a GUID partition map disk with its one partition at sector 40, ending 40
    // sectors before the end of the disk.
    std::vector<CUdifRegion> const regions{
        {"Protective Master Boot Record (MBR : 0)", -1, 0, 1, {}},
        {"GPT Header (Primary GPT Header : 1)", 0, 1, 1, {}},
        {"GPT Partition Data (Primary GPT Table : 2)", 1, 2, 32, {}},
        {" (Apple_Free : 3)", 2, 34, 6, {}},
        {"disk image (Apple_HFS : 4)", 3, 40, n - 80, {}},
        {" (Apple_Free : 5)", 4, n - 40, 7, {}},
        {"GPT Partition Data (Backup GPT Table : 6)", 5, n - 33, 32, {}},
        {"GPT Header (Backup GPT Header : 7)", 6, n - 1, 1, {}},
    };
    auto const start = std::chrono::steady_clock::now();
    std::string error;
    if (!WriteUdifImage(raw, regions, out, format, level, &error))
    {
        std::fprintf(stderr, "DmgBench: %s\n", error.c_str());
        return 1;
    }
    std::chrono::duration<double> const seconds = std::chrono::steady_clock::now() - start;
    std::printf("%.3f\n", seconds.count());
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "generate") == 0)
        return Generate(argv[2]);
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "convert") == 0)
        return Convert(argv[2], argv[3], std::atoi(argv[4]), argc == 6 ? argv[5] : "UDZO");
    std::fprintf(stderr, "usage: %s generate DIR | convert RAW OUT LEVEL [FORMAT]\n", argv[0]);
    return 2;
}
