#pragma once
// Drives shared from another computer, reached over iSCSI
// ("iscsi://HOST[:PORT]/TARGET/LUN"). The session is opened by Connect and
// closed by Disconnect, around every operation.

#include <string>

#include "ScsiTransport.h"

struct iscsi_context;

class IscsiTransport : public ScsiTransport {
 public:
  explicit IscsiTransport(std::string url) : url_(std::move(url)) {}
  ~IscsiTransport() override;
  bool Execute(ScsiCommand& cmd) override;
  std::string Path() const override { return url_; }
  bool Connect() override;
  void Disconnect() override;
  const std::string& LastError() const { return error_; }

 private:
  std::string url_;
  std::string error_;
  iscsi_context* iscsi_ = nullptr;
  int lun_ = 0;
};
