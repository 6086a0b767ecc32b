#include "flow/flow.h"

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

}  // namespace beam::flow
