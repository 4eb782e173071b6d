#include "kplx/completion.h"

#include <vector>

namespace kplx {

namespace {

enum class Value { none, file, serial, location, other };

Value valueOf(const CLI::Option &o)
{
    if (o.get_items_expected_max() == 0)
        return Value::none;   // a flag
    const std::string type = o.get_type_name();
    if (type == "FILE" || type == "OUT" || type == "UTILITY" || type == "DATABASE")
        return Value::file;
    if (type == "SERIAL")
        return Value::serial;
    if (type == "LOCATION")
        return Value::location;
    return Value::other;
}

std::vector<std::string> namesOf(const CLI::Option &o)
{
    std::vector<std::string> names;
    for (const std::string &s : o.get_snames())
        names.push_back("-" + s);
    for (const std::string &l : o.get_lnames())
        names.push_back("--" + l);
    return names;
}

std::string joined(const std::vector<std::string> &words, const char *separator)
{
    std::string out;
    for (const std::string &w : words)
        out += (out.empty() ? "" : separator) + w;
    return out;
}

const char *action(Value v)
{
    switch (v) {
    case Value::file: return "_kplx_files";
    case Value::serial: return "_kplx_words \"$(_kplx_listed serial)\"";
    case Value::location: return "_kplx_words \"$(_kplx_listed location)\"";
    case Value::none:
    case Value::other: break;
    }
    return ":";
}

// One subcommand's case: the values its options take, then its options, then its positionals.
std::string subcommandCase(const CLI::App &sub)
{
    std::vector<std::string> options;
    std::string valueCases;
    Value positional = Value::none;
    for (const CLI::Option *o : sub.get_options()) {
        if (o->get_positional() && !o->nonpositional()) {
            if (positional == Value::none)
                positional = valueOf(*o);
            continue;
        }
        std::vector<std::string> names = namesOf(*o);
        options.insert(options.end(), names.begin(), names.end());
        Value v = valueOf(*o);
        if (v == Value::other && !names.empty())
            valueCases += "            " + joined(names, "|") + ") return 0 ;;\n";   // a number or a name
        else if (v != Value::none && !names.empty())
            valueCases += "            " + joined(names, "|") + ") " + action(v) + "; return 0 ;;\n";
    }
    std::string out = "    " + sub.get_name() + ")\n";
    if (!valueCases.empty())
        out += "        case $prev in\n" + valueCases + "        esac\n";
    out += "        if [[ $cur == -* ]]; then _kplx_words \"" + joined(options, " ") + "\"; return 0; fi\n";
    if (positional == Value::file)
        out += "        _kplx_files\n";
    else if (positional != Value::none && positional != Value::other)
        out += std::string("        ") + action(positional) + "\n";
    else if (positional == Value::other && sub.get_name() == "completion")
        out += "        _kplx_words \"bash\"\n";
    out += "        ;;\n";
    return out;
}

}  // namespace

std::string bashCompletion(const CLI::App &app)
{
    std::vector<std::string> commands;
    std::string cases;
    for (const CLI::App *sub : app.get_subcommands([](const CLI::App *) { return true; })) {
        commands.push_back(sub->get_name());
        cases += subcommandCase(*sub);
    }
    std::vector<std::string> top = commands;
    for (const CLI::Option *o : app.get_options()) {
        std::vector<std::string> names = namesOf(*o);
        top.insert(top.end(), names.begin(), names.end());
    }
    return "# bash completion for kplx, made by `kplx completion bash` from kplx's own command line.\n"
           "# Serials and locations come from `kplx list --json`: the attached meters.\n"
           "_kplx_words() { mapfile -t COMPREPLY < <(compgen -W \"$1\" -- \"$cur\"); }\n"
           "_kplx_files() { compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- \"$cur\"); }\n"
           "# The KEY of every meter in the listing (one JSON key a line, each object's keys in order).\n"
           "_kplx_listed() {\n"
           "    timeout 10 \"${COMP_WORDS[0]}\" list --json 2>/dev/null | awk -v key=\"\\\"$1\\\":\" '\n"
           "        $1 == key && $2 ~ /^\"/ { v = $0; sub(/^[^:]*: *\"/, \"\", v); sub(/\",? *$/, \"\", v); value = v }\n"
           "        $1 == \"\\\"meter\\\":\" && $2 ~ /^true/ && value != \"\" { print value }\n"
           "        $1 == \"{\" { value = \"\" }'\n"
           "}\n"
           "_kplx() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} command= i\n"
           "    COMPREPLY=()\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case ${COMP_WORDS[i]} in\n"
           "        " + joined(commands, "|") + ") command=${COMP_WORDS[i]}; break ;;\n"
           "        esac\n"
           "    done\n"
           "    case $command in\n"
           "    \"\") _kplx_words \"" + joined(top, " ") + "\" ;;\n" +
           cases +
           "    esac\n"
           "    return 0\n"
           "}\n"
           "complete -F _kplx kplx\n";
}

}  // namespace kplx
