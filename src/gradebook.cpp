// gradebook: keeps a list of grades from 1 to 6 for one run, lists them and
// writes their mean, through a numbered menu on the console.

#include <charconv>
#include <cstdlib>
#include <ios>
#include <iostream>
#include <new>
#include <numeric>
#include <vector>

int choose_from_menu();
void add_grade();
void display_average();
void display_grades();

std::vector<float> grades;

namespace {

// At most this much of a bad answer's line is thrown away at once; the rest of a
// longer line is met by the next read.
constexpr std::streamsize max_discarded = 1000;

constexpr const char *menu_lines[] = {
    "Wybierz opcje: \n", "[1] - Dodaj ocene \n", "[2] - Wyswietl srednia \n",
    "[3] - Wyswietl oceny \n", "[4] - Wyjdz z programu \n"};

// Nobody can answer once input has ended, and nobody sees the dialogue once output
// fails: either way there is no one left to ask.
bool dialogue_is_over() {
    return !std::cin || !std::cout;
}

// Reads one answer into `answer`. False when it could not be read: an unreadable
// answer has had its line discarded and the user told; at the end of input the
// stream is left failed, so that dialogue_is_over() says so.
template <typename Number> bool read_answer(Number &answer) {
    // The tie would flush too, but only this way a failed write is known before the
    // program waits for an answer to a question nobody saw.
    if (!std::cout.flush()) {
        return false;
    }
    if (std::cin >> answer) {
        return true;
    }
    if (!std::cin.eof()) {
        std::cin.clear();
        std::cin.ignore(max_discarded, '\n');
        std::cout << "Nieprawidlowe dane \n";
    }
    return false;
}

// Everything written so far has been flushed before the read that came before the
// failed allocation, so it stays written; the status tells a script that the run
// was cut short.
[[noreturn]] void leave_out_of_memory() {
    std::cout.flush();
    std::_Exit(EXIT_FAILURE);
}

} // namespace

int main() {
    // Otherwise a full memory would end the program with std::bad_alloc: an abort
    // and a message on standard error.
    std::set_new_handler(leave_out_of_memory);

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
    // Each line is flushed on its own, as std::endl would, but without a separate
    // insertion of its '\n'.
    for (const char *line : menu_lines) {
        std::cout << line << std::flush;
    }
    int choice = 0;
    return read_answer(choice) ? choice : 0;
}

void add_grade() {
    while (!dialogue_is_over()) {
        std::cout << "Podaj ocene (1-6): ";
        float new_grade = 0;
        if (!read_answer(new_grade)) {
            continue;
        }
        if (new_grade >= 1 && new_grade <= 6) {
            grades.push_back(new_grade);
            std::cout << "Dodano ocene \n";
            return;
        }
        std::cout << "Ocena musi byc w zakresie od 1 do 6. \n";
    }
}

void display_average() {
    if (grades.empty()) {
        std::cout << "Brak ocen do obliczenia sredniej" << std::endl;
        return;
    }
    // A float initial value keeps every partial sum in single precision.
    const float sum = std::accumulate(grades.begin(), grades.end(), 0.0f);
    const float avg = sum / static_cast<float>(grades.size());
    std::cout << "Srednia: " << avg << std::endl;
}

void display_grades() {
    std::cout << "Oceny:";
    // Formatted in batches, without a stream insertion for each grade: to_chars with
    // 6 significant digits writes what `<< grade` writes, for every float from 1 to
    // 6. A batch is shorter than standard output's buffer, so the line fills the
    // buffer and goes out of it just as it would grade by grade.
    char batch[512];
    char *end = batch;
    for (const float &grade : grades) {
        if (batch + sizeof batch - end < 16) { // room for any float and its ','
            std::cout.write(batch, end - batch);
            end = batch;
        }
        end = std::to_chars(end, batch + sizeof batch, grade,
                            std::chars_format::general, 6)
                  .ptr;
        *end++ = ',';
    }
    std::cout.write(batch, end - batch);
    std::cout << std::endl;
}
