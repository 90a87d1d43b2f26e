#pragma once
// A drive whose disc is taken out when a read (READ (10) or READ CD) starts
// at a chosen sector: from then on every command answers "medium not
// present", 2/3A/00, as a real drive does.

#include <memory>
#include <string>

#include "ByteFields.h"
#include "ScsiTransport.h"

class TakenOutDrive : public ScsiTransport {
 public:
  TakenOutDrive(std::unique_ptr<ScsiTransport> inner, uint32_t from) : inner_(std::move(inner)), from_(from) {}
  bool Execute(ScsiCommand& c) override {
    if ((c.opcode() == 0x28 || c.opcode() == 0xBE) && bytes::BE32(c.cdb + 2) == from_) out_ = true;
    if (!out_) return inner_->Execute(c);
    c.SetSense(2, 0x3A, 0);
    return true;
  }
  std::string Path() const override { return inner_->Path(); }

 private:
  std::unique_ptr<ScsiTransport> inner_;
  uint32_t from_;
  bool out_ = false;
};
