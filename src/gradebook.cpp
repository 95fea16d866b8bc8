// SPDX-FileCopyrightText: 2026 The gradebook authors
// SPDX-License-Identifier: MIT

// gradebook: keeps a list of grades from 1 to 6 for one run, lists them and
// writes their mean, through a numbered menu on the console.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ios>
#include <iostream>
#include <new>
#include <numeric>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

int choose_from_menu();
void add_grade();
void display_average();
void display_grades();

std::vector<float> grades;

namespace {

// At most this much of a bad answer's line is thrown away at once; the rest of a
// longer line is met by the next read.
constexpr int max_discarded = 1000;

constexpr std::string_view menu_lines[] = {
    "Wybierz opcje: \n", "[1] - Dodaj ocene \n", "[2] - Wyswietl srednia \n",
    "[3] - Wyswietl oceny \n", "[4] - Wyjdz z programu \n"};

constexpr auto end_of_input = std::char_traits<char>::eof();

// Output goes straight to standard output's stream buffer: the texts are fixed or
// formatted here, so the formatted-output layer would add only its per-call cost,
// which came to a tenth of a long run. A failed write marks the stream bad and
// ends further writing, as that layer would.
void write_text(std::string_view text) {
    const auto size = static_cast<std::streamsize>(text.size());
    if (std::cout && std::cout.rdbuf()->sputn(text.data(), size) != size) {
        std::cout.setstate(std::ios::badbit);
    }
}

// False once output has failed.
bool flush_output() {
    if (std::cout && std::cout.rdbuf()->pubsync() != 0) {
        std::cout.setstate(std::ios::badbit);
    }
    return static_cast<bool>(std::cout);
}

// Ends the run with status 1, keeping what was written. Used when the dialogue
// cannot go on and a script must not take the run for a finished one: memory is
// exhausted, or standard input failed. Everything written was flushed by the read
// before, so nothing is lost.
[[noreturn]] void end_run_cut_short() {
    flush_output();
    std::_Exit(EXIT_FAILURE);
}

// Nobody can answer once input has ended, and nobody sees the dialogue once output
// fails: either way there is no one left to ask.
bool dialogue_is_over() {
    return !std::cin || !std::cout;
}

// The next character of standard input, or end_of_input. The streams stay in step
// with C stdio (the default), so the stream buffer reads through stdin: it never
// throws, and its error flag tells a failed read (a directory, a closed descriptor,
// an I/O error) from the real end of input, which the stream buffer cannot.
int next_char() {
    const int c = std::cin.rdbuf()->sbumpc();
    if (c == end_of_input) {
        if (std::ferror(stdin)) {
            end_run_cut_short();
        }
        std::cin.setstate(std::ios::eofbit);
    }
    return c;
}

bool is_space(int c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

bool is_digit(int c) {
    return c >= '0' && c <= '9';
}

// Scans one answer's field by the dialogue's own rules, the same with every
// standard library: white space skipped, then an optional sign and decimal digits
// and, for a grade, one '.' and an exponent after the first digit. Nothing else is
// taken ("0x1", "inf", "5a" end where the rules end), and the character after the
// field stays unread for the next read.
std::string scan_field(bool is_grade) {
    std::string field;
    int c = next_char();
    while (is_space(c)) {
        c = next_char();
    }
    const auto take = [&] {
        field += static_cast<char>(c);
        c = next_char();
    };
    if (c == '+' || c == '-') {
        take();
    }
    bool has_digits = false;
    bool has_point = false;
    bool has_exponent = false;
    for (;;) {
        if (is_digit(c)) {
            has_digits = true;
            take();
        } else if (is_grade && c == '.' && !has_point && !has_exponent) {
            has_point = true;
            take();
        } else if (is_grade && (c == 'e' || c == 'E') && has_digits && !has_exponent) {
            has_exponent = true;
            take();
            if (c == '+' || c == '-') {
                take();
            }
        } else {
            break;
        }
    }
    if (c != end_of_input) {
        std::cin.rdbuf()->sputbackc(static_cast<char>(c));
    }
    return field;
}

// A whole number within int's range; from_chars takes no '+'.
bool convert(const std::string &field, int &number) {
    const char *first = field.data();
    const char *last = first + field.size();
    if (first != last && *first == '+') {
        ++first;
    }
    const auto [end, error] = std::from_chars(first, last, number);
    return error == std::errc() && end == last;
}

// A number that strtof reads whole and that is finite in single precision; one too
// small for it reads as what it rounds to.
bool convert(const std::string &field, float &number) {
    char *end = nullptr;
    number = std::strtof(field.c_str(), &end);
    return !field.empty() && end == field.c_str() + field.size() && !std::isinf(number);
}

// Reads one answer into `answer`. False when it could not be read: an unreadable
// answer has had its line discarded and the user told; at the end of input the
// stream is left failed, so that dialogue_is_over() says so.
template <typename Number> bool read_answer(Number &answer) {
    // Flushed here rather than through the tie: only this way a failed write is
    // known before the program waits for an answer to a question nobody saw.
    if (!flush_output()) {
        return false;
    }
    // Once input has ended, every read fails at once, also the one after an answer
    // that ran up to the end.
    if (!std::cin.eof() &&
        convert(scan_field(std::is_floating_point_v<Number>), answer)) {
        return true;
    }
    if (std::cin.eof()) { // the end of input, not an unreadable answer
        std::cin.setstate(std::ios::failbit);
        return false;
    }
    for (int discarded = 0; discarded < max_discarded; ++discarded) {
        const int c = next_char();
        if (c == '\n' || c == end_of_input) {
            break;
        }
    }
    write_text("Nieprawidlowe dane \n");
    return false;
}

// `value` rounded to single precision. The x87 unit, which 32-bit x86 compilers use
// by default, keeps a float in a wider register, and the compilers round it only
// when they store it to memory; a volatile float must be stored. The register holds
// a sum or quotient of two floats rounded to 53 or 64 bits, at least twice a float's
// 24 and two more, and rounding that once more to 24 bits gives what a single
// rounding would.
float single(float value) {
    volatile float rounded = value;
    return rounded;
}

// Writes a grade or a mean, then `after`. The number is written as the stream's
// default format would: 6 significant digits, general notation, no trailing zeros.
// Done here rather than by the stream, whose printf may round a tie such as
// 1.015625 either way from one library to another: to_chars and the digits worked
// out below round it to even everywhere.
void write_number(float number, char after) {
    char text[16]; // the longest, "-1.17549e-38", and `after`
    char *end = text;
    if (number >= 1 && number <= 9) {
        // Grades and means, the whole of a long listing, several times quicker than
        // to_chars. number * 10^5 is exact in double, so lrint is the one rounding.
        long digits = std::lrint(static_cast<double>(number) * 100000);
        *end++ = static_cast<char>('0' + digits / 100000);
        digits %= 100000;
        if (digits != 0) {
            *end++ = '.';
            for (long unit = 10000; digits != 0; unit /= 10) {
                *end++ = static_cast<char>('0' + digits / unit);
                digits %= unit; // none left once unit is 1
            }
        }
    } else {
        end = std::to_chars(std::begin(text), std::end(text), number,
                            std::chars_format::general, 6)
                  .ptr;
    }
    *end++ = after;
    write_text({text, static_cast<std::size_t>(end - text)});
}

} // namespace

int main() {
    // Otherwise a full memory would end the program with std::bad_alloc: an abort
    // and a message on standard error.
    std::set_new_handler(end_run_cut_short);

    int choice = 0;
    do {
        choice = choose_from_menu();
        switch (choice) {
        case 1:
            add_grade();
            break;
        case 2:
            display_average();
            break;
        case 3:
            display_grades();
            break;
        default: // 4 ends the loop; any other number shows the menu again
            break;
        }
    } while (choice != 4 && !dialogue_is_over());

    // Every write has been flushed by the read after it, so the stream knows of any
    // failure by now.
    return std::cout ? EXIT_SUCCESS : EXIT_FAILURE;
}

int choose_from_menu() {
    // Each line is seen as soon as it is written.
    for (const std::string_view line : menu_lines) {
        write_text(line);
        flush_output();
    }
    int choice = 0;
    return read_answer(choice) ? choice : 0;
}

void add_grade() {
    while (!dialogue_is_over()) {
        write_text("Podaj ocene (1-6): ");
        float new_grade = 0;
        if (!read_answer(new_grade)) {
            continue;
        }
        if (new_grade >= 1 && new_grade <= 6) {
            grades.push_back(new_grade);
            write_text("Dodano ocene \n");
            return;
        }
        write_text("Ocena musi byc w zakresie od 1 do 6. \n");
    }
}

void display_average() {
    if (grades.empty()) {
        write_text("Brak ocen do obliczenia sredniej\n");
        flush_output();
        return;
    }
    const float sum = std::accumulate(
        grades.begin(), grades.end(), 0.0f,
        [](float partial, float grade) { return single(partial + grade); });
    const float avg = single(sum / single(static_cast<float>(grades.size())));
    write_text("Srednia: ");
    write_number(avg, '\n');
    flush_output();
}

void display_grades() {
    write_text("Oceny:");
    for (const float &grade : grades) {
        write_number(grade, ',');
    }
    write_text("\n");
    flush_output();
}
