// Path::Expand: a rule's path pattern multiplied out into the paths that
// exist now. Runs on the scan workers, so nothing here throws and nothing is
// cached between calls.
#include "trova/property/properties.h"

#include "trova/clean/cacheclean.h"
#include "trova/clean/softs.h"

#include "fendrel/direnum.h"
#include "fendrel/fsops.h"
#include "fendrel/logger.h"
#include "fendrel/platform.h"
#include "fendrel/utils.h"

#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace Trova {

namespace {

constexpr const char* kSource = "property/pathproperty";
constexpr char kSep = fendrel::kPathSepA;

enum class TokenKind { Literal, Name, FolderPattern };

struct Token {
    TokenKind kind;
    std::string text;  // names and folder patterns keep their delimiters
};

// Cuts an expanded pattern, left to right:
//   "%AllDisk%\Temp"        => Name "%AllDisk%", Literal "Temp"
//   "C:\Users\<P.*>\Cache"  => Literal "C:\Users\", FolderPattern "<P.*>", Literal "Cache"
//   "C:\a\%enum"            => Literal "C:\a\"   (an unclosed token drops the rest)
// A literal after a token loses its first character (the separator there);
// a literal before a token keeps its trailing one.
std::vector<Token> Cut(const std::string& text) {
    std::vector<Token> tokens;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == '%' || c == '<') {
            const std::size_t end = text.find(c == '%' ? '%' : '>', pos + 1);
            if (end == std::string::npos)
                break;
            tokens.push_back({c == '%' ? TokenKind::Name : TokenKind::FolderPattern, text.substr(pos, end - pos + 1)});
            pos = end + 1;
        } else {
            std::size_t end = text.find_first_of("%<", pos);
            if (end == std::string::npos)
                end = text.size();
            std::string literal = text.substr(pos, end - pos);
            if (pos != 0)
                literal.erase(0, 1);
            tokens.push_back({TokenKind::Literal, std::move(literal)});
            pos = end;
        }
    }
    return tokens;
}

bool EndsWithSeparator(const std::string& path) {
    return !path.empty() && path.back() == kSep;
}

// The block ("dx") the pattern belongs to: Path -> rule -> item -> block, a
// folder copy going through its template, a detection source through its
// mapping. Null when the pattern has no enclosing block.
const OS* EnclosingBlock(const BaseObject* node) {
    for (; node != nullptr; node = node->parent) {
        if (node->kind == kKindOS) {
            if (const auto* block = dynamic_cast<const OS*>(node))
                return block;
        }
    }
    return nullptr;
}

// Calls visit(name) for each subfolder of folder, in enumeration order.
// Safety: directory links (junctions, symbolic links, mount points) are
// listed by the enumeration but never become candidates; a link inside an
// application's folder must not lead a scan or a deletion elsewhere.
template <typename Visit>
void ForEachSubfolder(const std::string& folder, Visit visit) {
    DirEnum listing;
    if (!listing.Open(folder)) {
        Logger_Debug(kSource, __LINE__, "Failed to enumerate folders");
        return;
    }
    DirEntry entry;
    while (listing.Next(entry)) {
        if (entry.isDirectory && !entry.isLink)
            visit(entry.name);
    }
}

// The child of an enumerated folder. A parent without its trailing separator
// (a bare drive "C:", two tokens in a row) gets one, so that a candidate is
// always the entry that was listed and never a path relative to the current
// folder.
std::string ChildOf(const std::string& folder, const std::string& name) {
    if (EndsWithSeparator(folder))
        return folder + name;
    Logger_Debug(kSource, __LINE__, "unexpected Result");
    return folder + kSep + name;
}

void ExpandLiteral(const std::string& literal, bool first, const std::vector<std::string>& previous,
                   std::vector<std::string>& results) {
    if (first) {
        if (FileSystem::Exists(literal))
            results.push_back(literal);
        return;
    }
    for (const auto& p : previous) {
        std::string candidate = p + kSep + literal;
        if (FileSystem::Exists(candidate))
            results.push_back(std::move(candidate));
    }
}

void ExpandEnum(const std::vector<std::string>& previous, std::vector<std::string>& results) {
    if (previous.empty())
        Logger_Debug(kSource, __LINE__, "todo");
    for (const auto& p : previous) {
        ForEachSubfolder(p, [&](const std::string& name) {
            std::string candidate = ChildOf(p, name);
            if (FileSystem::Exists(candidate))
                results.push_back(std::move(candidate));
        });
    }
}

void ExpandAllDisks(const std::vector<std::string>& previous, std::vector<std::string>& results) {
    if (!previous.empty())
        Logger_Debug(kSource, __LINE__, "todo");
    if (!Disks::List(results)) {
        Logger_Debug(kSource, __LINE__, "Failed to get logical drives");
        results.clear();
    }
}

void ExpandMapping(const BaseObject* self, const std::string& name, const std::vector<std::string>& previous,
                   std::vector<std::string>& results) {
    const OS* block = EnclosingBlock(self);
    if (block == nullptr)
        return;
    for (std::size_t index = 0; index < block->mappings.size(); ++index) {
        std::string value;
        if (!block->mappings[index]->Resolve(name, value))
            continue;
        // The block's first mapping names a whole location; later ones name
        // a piece below what the pattern has built so far.
        if (index == 0) {
            results.push_back(std::move(value));
            return;
        }
        for (const auto& p : previous) {
            if (!EndsWithSeparator(p))
                Logger_Debug(kSource, __LINE__, "unexpected Result");
            std::string candidate = p + value;
            if (FileSystem::Exists(candidate))
                results.push_back(std::move(candidate));
        }
        return;
    }
}

void ExpandFolderPattern(const std::string& token, bool first, const std::vector<std::string>& previous,
                         std::vector<std::string>& results) {
    if (first)
        Logger_Debug(kSource, __LINE__, "todo");
    // Wide matching: "." then stands for one character of a name, not one
    // byte of its UTF-8 form. Case folding is the classic locale's (ASCII).
    const std::wstring expression = Utils::AnsiToUtf16(token.substr(1, token.size() - 2));
    std::wregex pattern;
    try {
        pattern.assign(expression, std::regex::ECMAScript | std::regex::icase);
    } catch (const std::exception&) {
        // A broken rule must not stop a worker: the pattern matches nothing.
        Logger_Warn(kSource, __LINE__, ("Invalid folder pattern: " + token).c_str());
        return;
    }
    for (const auto& p : previous) {
        ForEachSubfolder(p, [&](const std::string& name) {
            bool matches = false;
            try {
                matches = std::regex_match(Utils::AnsiToUtf16(name), pattern);
            } catch (const std::exception&) {
                matches = false;  // too complex for the matcher: treated as no match
            }
            if (!matches)
                return;
            std::string candidate = ChildOf(p, name);
            if (FileSystem::Exists(candidate))
                results.push_back(std::move(candidate));
        });
    }
}

}  // namespace

std::vector<std::string> Path::Expand() const {
    const std::vector<Token> tokens = Cut(Environment::Expand(value));
    std::vector<std::string> results;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        std::vector<std::string> previous;
        previous.swap(results);
        switch (token.kind) {
        case TokenKind::Literal:
            ExpandLiteral(token.text, i == 0, previous, results);
            break;
        case TokenKind::Name:
            if (token.text == "%enum%")
                ExpandEnum(previous, results);
            else if (token.text == "%AllDisk%" || token.text == "%alldisk%")
                ExpandAllDisks(previous, results);
            else
                ExpandMapping(this, token.text.substr(1, token.text.size() - 2), previous, results);
            break;
        case TokenKind::FolderPattern:
            ExpandFolderPattern(token.text, i == 0, previous, results);
            break;
        }
        if (results.empty())
            return {};
    }
    return results;
}

}  // namespace Trova
