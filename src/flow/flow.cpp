#include "flow/flow.h"

#include <exception>
#include <new>
#include <string>

#include "fileio/fileio.h"
#include "flow/ui.h"

namespace beam::flow {

void start_up(PathStore& store) {
    store.seed();
    ui::set_prompt_text(store.read());
    ui::show_chooser();
}

void ok(PathStore& store) {
    store.save(ui::get_prompt_text());
    ui::close_prompt();
}

void end_program(PathStore& store) {
    store.close();
    ui::end();
}

void report(PathStore& store, const Failure& failure) {
    ui::message_box(report_text(failure));
    end_program(store);
}

void report_handled_exception(PathStore& store) {
    std::string text;
    try {
        throw;
    } catch (const Failure& failure) {
        text = report_text(failure);
    } catch (const std::bad_alloc&) {
        text = report_text(fileio::out_of_memory_failure());
    } catch (const std::exception& exception) {
        text = std::string("Error: ") + exception.what();
    } catch (...) {
        text = "Error: Unknown error";
    }
    ui::message_box(text);
    end_program(store);
}

}  // namespace beam::flow
