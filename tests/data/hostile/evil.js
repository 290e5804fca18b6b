window.__kr_ran = (window.__kr_ran || []).concat('project-script');
new Image().src = 'http://127.0.0.1:@PORT@/project-script';
