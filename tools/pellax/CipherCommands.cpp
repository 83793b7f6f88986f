// pellax keygen | encrypt | decrypt: the payload cipher from the command line.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "Commands.h"
#include "pellax.h"

namespace pellax_tool {

namespace {
std::string ToHex(const unsigned char* data, size_t length)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text.push_back(kDigits[data[i] >> 4]);
        text.push_back(kDigits[data[i] & 15]);
    }
    return text;
}

bool FromHex(const std::string& text, std::vector<unsigned char>& bytes)
{
    if (text.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        std::string pair = text.substr(i, 2);
        unsigned long value = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0') {
            return false;
        }
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

// "-" or nothing reads standard input.
std::string ReadInput(const std::string& argument)
{
    if (!argument.empty() && argument != "-") {
        return argument;
    }
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
}

int Fail(const char* what, int code)
{
    std::fprintf(stderr, "pellax: %s failed (code %d)\n", what, code);
    return 1;
}

bool KeyFromHex(const std::string& hex, std::vector<unsigned char>& key)
{
    if (!FromHex(hex, key) || key.size() < 16) {
        std::fprintf(stderr, "pellax: --key needs at least 16 bytes as hex (32 hex digits)\n");
        return false;
    }
    return true;
}

int RunKeygen(int length)
{
    std::vector<unsigned char> key(static_cast<size_t>(length));
    int result = PELLAX_CLIENT_GetDataKey(reinterpret_cast<char*>(key.data()), length);
    if (result != 0) {
        return Fail("keygen", result);
    }
    std::printf("%s\n", ToHex(key.data(), key.size()).c_str());
    return 0;
}

int RunEncrypt(const std::string& hexKey, const std::string& input)
{
    std::vector<unsigned char> key;
    if (!KeyFromHex(hexKey, key)) {
        return 2;
    }
    std::string plain = ReadInput(input);
    std::vector<char> text((plain.size() / 16 + 1) * 16 * 4 / 3 + 8);
    int length = static_cast<int>(text.size());
    int result = PELLAX_CLIENT_Encrypt(key.data(), static_cast<int>(key.size()),
                                       reinterpret_cast<const unsigned char*>(plain.data()),
                                       static_cast<int>(plain.size()), text.data(), &length);
    if (result != 0) {
        return Fail("encrypt", result);
    }
    std::printf("%.*s\n", length, text.data());
    return 0;
}

int RunDecrypt(const std::string& hexKey, const std::string& input)
{
    std::vector<unsigned char> key;
    if (!KeyFromHex(hexKey, key)) {
        return 2;
    }
    std::string text = ReadInput(input);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    std::vector<unsigned char> plain(text.size() + 1);
    int length = static_cast<int>(plain.size());
    int result = PELLAX_CLIENT_Decrypt(key.data(), static_cast<int>(key.size()), text.data(),
                                       static_cast<int>(text.size()), plain.data(), &length);
    if (result != 0) {
        return Fail("decrypt", result);
    }
    std::fwrite(plain.data(), 1, static_cast<size_t>(length), stdout);
    return 0;
}
}

void AddCipherCommands(CLI::App& app, int& exitCode)
{
    struct Options {
        int length = 16;
        std::string encryptKey, encryptInput, decryptKey, decryptInput;
    };
    static Options options;

    auto* keygen = app.add_subcommand("keygen", "Draw a random data key, printed as hex");
    keygen->add_option("--length", options.length, "Key length in bytes")->check(CLI::Range(1, 4096));
    keygen->footer("Example: pellax keygen --length 16");
    keygen->callback([&exitCode] { exitCode = RunKeygen(options.length); });

    auto* encrypt = app.add_subcommand("encrypt", "AES-128 encrypt TEXT (or stdin with -) into base64");
    encrypt->add_option("--key", options.encryptKey, "Key as hex (first 16 bytes used)")->required();
    encrypt->add_option("text", options.encryptInput, "Plain text, or - for standard input");
    encrypt->footer("Example: pellax encrypt --key $(pellax keygen) 'hello'");
    encrypt->callback([&exitCode] { exitCode = RunEncrypt(options.encryptKey, options.encryptInput); });

    auto* decrypt = app.add_subcommand("decrypt", "Decrypt base64 TEXT (or stdin with -) back to bytes");
    decrypt->add_option("--key", options.decryptKey, "Key as hex (first 16 bytes used)")->required();
    decrypt->add_option("text", options.decryptInput, "Base64 text, or - for standard input");
    decrypt->footer("Example: echo 'q1w2...==' | pellax decrypt --key 00112233445566778899aabbccddeeff -");
    decrypt->callback([&exitCode] { exitCode = RunDecrypt(options.decryptKey, options.decryptInput); });
}

}  // namespace pellax_tool
