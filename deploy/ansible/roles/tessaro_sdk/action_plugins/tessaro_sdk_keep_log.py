# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

# Keeps a host's installer log of this run on the controller, as
# DIR/NAME.log (mode 0600), making DIR (mode 0700) when it is missing.
# Runs in ansible's own process on the controller: writing one file needs
# no module run, and this runs once per host that the installer ran on.
import os
import tempfile

from ansible.errors import AnsibleActionFail
from ansible.plugins.action import ActionBase


class ActionModule(ActionBase):
    TRANSFERS_FILES = False
    _VALID_ARGS = frozenset(('dir', 'name', 'content'))

    def run(self, tmp=None, task_vars=None):
        result = super().run(tmp, task_vars)
        directory = self._task.args['dir']
        path = os.path.join(directory, self._task.args['name'] + '.log')
        try:
            os.makedirs(directory, mode=0o700, exist_ok=True)
            # A new file beside it, renamed over the old one: a reader
            # never sees half a log, and a link in its place is replaced,
            # never followed.
            fd, temporary = tempfile.mkstemp(dir=directory, prefix='.log.')
            try:
                with os.fdopen(fd, 'w', encoding='utf-8', errors='surrogateescape') as out:
                    out.write(self._task.args['content'])
                os.chmod(temporary, 0o600)
                os.replace(temporary, path)
            except BaseException:
                os.unlink(temporary)
                raise
        except OSError as error:
            raise AnsibleActionFail('the installer log could not be kept in %s: %s' % (path, error))
        result['changed'] = False
        result['path'] = path
        return result
