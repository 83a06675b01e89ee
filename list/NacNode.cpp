#include "list/NacNode.h"

CNacNode::~CNacNode() { delete record_; }
